#pragma once

// A folder whose files are opened beneath it alone, for a program that hands them to others
// (the search server): whatever path is asked for, whatever symbolic links its folders hold,
// the file opened lies inside the folder.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace kb::platform {

class BeneathFolder {
 public:
  // Nothing when the folder cannot be opened.
  static std::unique_ptr<BeneathFolder> Open(std::string_view path);
  ~BeneathFolder();
  BeneathFolder(const BeneathFolder&) = delete;
  BeneathFolder& operator=(const BeneathFolder&) = delete;

  // Opens `relative` (a path inside the folder, no leading "/") for reading, resolved beneath
  // the folder (openat2 with RESOLVE_BENEATH and RESOLVE_NO_MAGICLINKS: no "..", absolute
  // link or /proc link may lead out of it), without waiting on a FIFO or a device. Gives the
  // open descriptor, which the caller then owns, with the file's size, when it is a regular
  // file; -1 otherwise, or when it cannot be opened (also on a kernel without openat2, older
  // than Linux 5.6: nothing is opened then).
  int OpenRegularFile(std::string_view relative, uint64_t& size) const;

 private:
  explicit BeneathFolder(int descriptor) : descriptor_(descriptor) {}
  int descriptor_;
};

// An Env that opens for reading every path "./..." beneath the current folder as it was when
// the Env was made (openat2 with RESOLVE_BENEATH and RESOLVE_NO_MAGICLINKS), so that a file
// swapped for a link that leads out of the folder after it was listed is not opened: the open
// fails with kAccessDenied. Links that stay inside are followed, unless the options say not
// to follow the last one; a path through an absolute link is opened as it stands and kept
// when the file opened lies inside the folder's resolved path (/proc/self/fd). Every other call,
// every other path and every open for writing goes to the target as it stands, and so does every
// open when the folder could not be opened or the kernel has no openat2 (before Linux 5.6, or
// refused by a sandbox). May be used from several threads at once.
class BeneathEnv final : public EnvWrapper {
 public:
  explicit BeneathEnv(Env& target);
  ~BeneathEnv() override;

  SystemError OpenFile(std::string_view path, const OpenOptions& options,
                       std::unique_ptr<File>& file) override;

 private:
  // Whether the open file `descriptor` lies inside the folder.
  bool Inside(int descriptor) const;

  int descriptor_;    // the current folder, O_PATH; -1 when it could not be opened
  std::string root_;  // its resolved path; empty when unknown
};

}  // namespace kb::platform
