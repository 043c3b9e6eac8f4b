#pragma once

// A folder of the user's own that no one else may write in, held open: every file in it is
// named relative to the folder opened and checked, so that nothing another user does to the
// folders above it (moving it, putting a link in its place) sends a read or a write anywhere
// else. Files are opened without following links and without waiting (a FIFO never blocks),
// and what was opened is checked after the open: a regular file of this user's with mode 0600.
// Since no one else may add an entry to the folder, a name checked stays what it was until
// this user changes it.
//
// Every call is safe from any thread. Names are single entries of the folder (no '/').

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_identity.h"
#include "platform/file_system.h"

namespace kb::platform {

class PrivateFolder {
 public:
  enum class Outcome {
    kOpened,
    kMissing,      // there is no folder at the path (and it was not to be made)
    kNotPrivate,   // not a folder of this user's, or others may write in it; or no path at all
    kRemote,       // on a network file system, where its owner cannot be trusted
    kNotWritable,  // the user may not make files in it, or it could not be made
  };

  // Opens the folder `path` (absolute): what is checked is the folder opened. A symbolic link
  // in the folder's own place is refused (links to the folders above it are followed). With
  // `make`, a missing folder is made first, mode 0700, with any missing folder above it.
  // Nothing unless `outcome` is kOpened.
  static std::unique_ptr<PrivateFolder> Open(std::string_view path, bool make, Outcome& outcome);
  ~PrivateFolder();
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  // A path to the entry `name` that goes through the folder held open ("/proc/self/fd/N/"
  // and the name), for a library that opens files by path: no change to the folders above
  // redirects it. Only for this process, while this object lives.
  std::string PathOf(std::string_view name) const;

  // Leaves `name` only when it is a regular file of this user's with mode 0600, and removes
  // anything else there (a link, a FIFO, a socket, a device, a folder and all it holds, a file
  // of the wrong owner or mode), without following a link or opening a FIFO. True when the
  // name is now missing or such a file.
  bool KeepOnlyPrivateFile(std::string_view name) const;
  // True when `name` is a regular file of this user's with mode 0600 (not a link).
  bool HoldsPrivateFile(std::string_view name) const;
  // The status of the entry `name` itself, never following a link; false when there is none.
  bool StatusOf(std::string_view name, ExactStatus& status) const;

  // Opens the private file `name` for reading and writing, created (mode 0600, whatever the
  // umask) when missing and `creation` allows it; nothing when it is not such a file.
  std::unique_ptr<File> OpenPrivateFile(std::string_view name, Creation creation) const;
  // The bytes of the private file `name` when it holds at most `most`; nothing otherwise
  // (a larger file is read no further than `most` and one byte).
  std::optional<std::string> ReadPrivateFile(std::string_view name, std::size_t most) const;
  // Replaces `name` with a private file holding `bytes`, written apart under `name` + ".new"
  // first and then renamed; false when it cannot.
  bool WritePrivateFile(std::string_view name, std::string_view bytes) const;
  // Removes the entry `name` (not a folder); true when it is gone.
  bool Remove(std::string_view name) const;
  // Gives the entry `from` the name `to`, replacing what `to` was.
  bool Rename(std::string_view from, std::string_view to) const;
  // Sets the modification time of `name` (not following a link) to now.
  bool Touch(std::string_view name) const;
  // The regular files of the folder, with their sizes and modification times.
  std::vector<FolderEntry> Entries() const;

 private:
  explicit PrivateFolder(int descriptor) : descriptor_(descriptor) {}
  int descriptor_;  // O_DIRECTORY
};

}  // namespace kb::platform
