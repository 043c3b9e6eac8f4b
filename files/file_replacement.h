#pragma once

// Replacing a file whole, never through a link. The new contents go into a hidden file
// beside it (".NAME." and six letters or digits), created exclusively so that no link and no
// other file is ever opened for it; once that file is complete and closed, a rename puts it
// in place of the old one in one step. Readers see the old file whole or the new one whole,
// and a failure, or a replacement given up, leaves the old file as it was.
//
// While a replacement runs it holds two locks, both released when it ends:
//  - the old file's, when it is a regular file, taken as an open for writing takes it: a file
//    that another program holds locked (by flock, or by a record lock of fcntl or lockf on
//    any part of it, looked for when the replacement begins and again just before the
//    rename), or that has no write permission bit, is not replaced;
//  - one on the folder itself, so that two replacements in one folder never run at once. A
//    hidden file found in the folder then is one a killed program left behind, and is
//    removed. A folder that cannot be opened or locked (other than by another replacement)
//    is gone on without, and nothing is cleaned up in it.
// A symbolic link in the old file's place is replaced by the new file; what it points to is
// never touched. A directory, FIFO, socket or device in its place is refused.
//
// The new file gets permissions 0644 less the umask, or the old file's when it replaces one.
// The hidden file is made with no more than its owner's read and write bits of those, and
// gets them all only once it is complete, at Commit: no other user can open it on the way.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace kb {

class FileReplacement {
 public:
  // Works on the files of `env`, which must outlive it.
  explicit FileReplacement(platform::Env& env) : env_(env) {}
  // Gives up a replacement that was begun and not committed.
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // Begins replacing the file at `path` (which need not exist): takes the locks, removes
  // left-behind hidden files and creates the hidden file, handing it out open for writing,
  // empty, in `file`. Fails with kSharingViolation when the old file or the folder is held
  // by another, kAccessDenied when the old file is not a regular file, has no write bit or
  // cannot be opened for writing, and with the file system's error when the hidden file
  // cannot be made; nothing is left behind then.
  // With `permissions`, the new file gets those, whatever the old file's were.
  platform::SystemError Begin(std::string_view path, std::unique_ptr<platform::File>& file,
                              std::optional<uint32_t> permissions = std::nullopt);
  // Gives `file`, the hidden file Begin handed out and the caller has written, its final
  // permissions, closes it, and puts it in the old file's place, ending the replacement.
  // Fails with the error of any of those steps, or kSharingViolation when a record lock now
  // holds the old file; the hidden file is removed then and the old file stays.
  platform::SystemError Commit(platform::File& file);
  // Ends the replacement without replacing anything: the hidden file is removed.
  void Abandon();

  bool active() const { return !hidden_path_.empty(); }
  // The hidden file's path while the replacement runs.
  const std::string& hidden_path() const { return hidden_path_; }

 private:
  platform::SystemError LockFolder(std::string_view folder);
  platform::SystemError HoldOldFile(std::string_view path, platform::FileStatus& status);
  void RemoveLeftBehind(std::string_view folder, std::string_view name);
  platform::SystemError CreateHidden(std::string_view folder, std::string_view name,
                                     std::unique_ptr<platform::File>& file);
  void End();

  platform::Env& env_;
  std::string path_;
  std::string hidden_path_;
  uint32_t permissions_ = 0;                     // the new file's, set at Commit
  std::unique_ptr<platform::Directory> folder_;  // locked, or absent
  std::unique_ptr<platform::File> old_file_;     // locked, or absent
};

// Whether `entry` of a folder is a hidden file that a replacement of `name` makes there.
bool IsHiddenReplacementOf(std::string_view entry, std::string_view name);

}  // namespace kb
