#pragma once

// What the article index needs to know about files beyond opening and reading them: exact
// status (inode, size, timestamps to the nanosecond), the kind of file system a folder lies
// on, the locks other programs hold, and who the user is. Every call is safe from any thread.

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace kb::platform {

// A file's identity and the metadata that changes when its bytes do.
struct ExactStatus {
  uint32_t device_major = 0;
  uint32_t device_minor = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t mtime_ns = 0;  // last modification, nanoseconds since the epoch
  int64_t ctime_ns = 0;  // last status change
  bool regular = false;

  bool operator==(const ExactStatus&) const = default;
};

// Where a folder lies: on a local file system, or on one whose files others may change
// without this machine's metadata showing it (NFS, SMB/CIFS, FUSE, 9p, and the like), or on
// one read from an image (squashfs, erofs, iso9660, cramfs, udf), whose times and inode
// numbers are the image's: an image replaced by another on the same device may keep them all.
struct FileSystemOf {
  bool known = false;  // false when the folder could not be asked
  bool remote = false;
  bool image = false;
  uint64_t id = 0;  // the file system's id
};

// A folder held open, whose entries are looked at by name without resolving its path again.
class StatusFolder {
 public:
  // Nothing when the folder cannot be opened.
  static std::unique_ptr<StatusFolder> Open(std::string_view path);
  ~StatusFolder();
  StatusFolder(const StatusFolder&) = delete;
  StatusFolder& operator=(const StatusFolder&) = delete;

  // The status of the entry `name`, symbolic links followed; false when it cannot be had.
  bool StatusOf(std::string_view name, ExactStatus& status) const;
  // True when the entry `name` is itself a regular file with no other name (not a symbolic
  // link, not one of several hard links): a change to it must come through this folder.
  bool HasThisNameAlone(std::string_view name) const;
  // The file system of what the entry `name` is, symbolic links followed.
  FileSystemOf FileSystemOfEntry(std::string_view name) const;

 private:
  explicit StatusFolder(int descriptor) : descriptor_(descriptor) {}
  int descriptor_;
};

// The status of `path`, symbolic links followed; false when it cannot be had.
bool StatusOfPath(std::string_view path, ExactStatus& status);

// The file system `path` lies on.
FileSystemOf FileSystemOfPath(std::string_view path);

// The files some process holds a lock on, as (device major, device minor, inode), from
// /proc/locks: only locks of this PID namespace and of local file systems show there. Empty
// when it cannot be read. A shared lock this process holds itself is left out: it reads the
// file (a search of this process that runs meanwhile), and this process writes no file it
// holds so. Its exclusive locks, and every lock of another process, count.
using LockedFile = std::tuple<uint32_t, uint32_t, uint64_t>;
std::set<LockedFile> LockedFiles();

// The wall clock, nanoseconds since the epoch.
int64_t RealTimeNs();

// The user and the groups the process runs with.
uint32_t UserId();
std::vector<uint32_t> GroupIds();

// The canonical form of `path` (absolute, no symbolic links); nothing when it cannot be had.
std::optional<std::string> CanonicalPath(std::string_view path);

// True when nothing is at `path`, or a regular file (not a link) of this user's with mode 0600.
bool IsMissingOrPrivateFile(std::string_view path);

// open(2) as a library that opens files itself by path (SQLite) calls it, with O_NONBLOCK
// added: a FIFO there never makes the open wait. Regular files ignore the flag.
int OpenNeverWaiting(const char* path, int flags, int mode);

// A file of a folder, with its size and time of last modification.
struct FolderEntry {
  std::string name;
  uint64_t size = 0;
  int64_t mtime_ns = 0;
};

}  // namespace kb::platform

namespace kb::platform {

// A watch on the entries of one folder, or of several (inotify): which names were created,
// written, changed in status, moved or removed since it was last asked.
class FolderWatch {
 public:
  // A watch on the folder `path`, whose entries are named as they are; nothing when no watch
  // can be set.
  static std::unique_ptr<FolderWatch> Open(std::string_view path);
  // A watch on no folder yet, to which Add adds them; nothing when no watch can be had.
  static std::unique_ptr<FolderWatch> OpenEmpty();
  // The most folders of a tree one watch of a program should take: inotify's watches are the
  // user's, shared by all their programs.
  static constexpr std::size_t kMostFolders = 8192;
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // Watches the folder `path` too (a symbolic link to a folder followed), its entries named
  // `prefix` and their names. False, watching nothing more, when it cannot: the user's limit
  // on watches is reached, the folder is gone, or it is a folder watched already under
  // another prefix.
  bool Add(std::string_view path, std::string_view prefix);

  struct Changes {
    std::vector<std::string> names;
    // Events were lost, or a watched folder itself changed, moved or went: trust no name.
    bool everything = false;
  };
  // What happened since the last call (or the watch was set), without waiting.
  Changes Take();

 private:
  explicit FolderWatch(int descriptor) : descriptor_(descriptor) {}
  int descriptor_;
  bool broken_ = false;
  std::unordered_map<int, std::string> prefixes_;  // of each folder watched, by its watch
};

}  // namespace kb::platform
