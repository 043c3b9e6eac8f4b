#pragma once

// The file system as kbsearch uses it, behind one narrow interface, Env: regular files opened
// with an access, locked, read and written at an offset; paths renamed and removed; folders
// read entry by entry. Env::Default() is the operating system's file system, and the one
// place where kbsearch calls it; nothing above this header sees an OS header or errno.
//
// Every file service takes an Env, so that a test can hand it a wrapper (EnvWrapper) that
// watches, delays or fails chosen calls (platform/testing/faulty_env.h). A call through the
// interface is one virtual call and, in Env::Default(), one system call: the seam costs the
// file services no extra call of the operating system.
//
// Failures come back as a SystemError: the operating system's condition in the numbering of
// the file services' message table (support/error_state/error_state.h), so that the layer
// above can post it as it stands or map it. 0 means success.
//
// An Env may be used from several threads at once; each File and Directory it hands out is
// used by one thread at a time, but for File::Read, which several threads may call on one
// File at once.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace kb::platform {

using SystemError = uint32_t;

// The values a SystemError takes. Conditions without a closer number come back as
// kGeneralFailure.
namespace system_error {
inline constexpr SystemError kNone = 0;
inline constexpr SystemError kFileNotFound = 2;
inline constexpr SystemError kPathNotFound = 3;  // a directory of the path is missing or is not one
inline constexpr SystemError kTooManyOpenFiles = 4;
inline constexpr SystemError kAccessDenied = 5;  // also: not a regular file, read-only file
inline constexpr SystemError kInvalidHandle = 6;
inline constexpr SystemError kNotEnoughMemory = 8;
inline constexpr SystemError kNotSameDevice = 17;
inline constexpr SystemError kWriteFault = 29;        // an I/O error of the device while writing
inline constexpr SystemError kReadFault = 30;         // an I/O error of the device while reading
inline constexpr SystemError kGeneralFailure = 31;    // also: an I/O error of anything else
inline constexpr SystemError kSharingViolation = 32;  // another open holds a conflicting lock
inline constexpr SystemError kDiskFull = 39;  // no space, quota exceeded, file-size limit reached
inline constexpr SystemError kNotSupported = 50;
inline constexpr SystemError kFileExists = 80;  // an exclusive create met an existing name
inline constexpr SystemError kInvalidParameter = 87;
inline constexpr SystemError kInvalidName = 123;  // a name that cannot be a path (holds a NUL)
inline constexpr SystemError kBadPathName = 161;  // a link loop, or a link where none may be
}  // namespace system_error

// The calls of the interface, by kind: what a failure happened in, and what a wrapper counts.
enum class Operation {
  kOpen,            // Env::OpenFile
  kLock,            // File::Lock, Directory::Lock, File::CheckRecordLocks
  kRead,            // File::Read
  kWrite,           // File::Write
  kStatus,          // File::Status, Directory::Status
  kTruncate,        // File::Truncate
  kSetPermissions,  // File::SetPermissions
  kClose,           // File::Close
  kPathStatus,      // Env::PathStatus
  kRename,          // Env::Rename
  kRemove,          // Env::Remove
  kOpenDirectory,   // Env::OpenDirectory
  kReadDirectory,   // Directory::Next
  kMakeDirectory,   // Env::MakeDirectory
  kOpenFolder,      // Env::OpenFolder (Folder::OpenFile counts as kOpen)
  kReadCached,      // File::ReadCached
  kWillRead,        // File::WillRead
};

// What the operating system's error number `os_error` (an errno value) means when `operation`
// fails with it: the one translation of the system's numbers, which a wrapper uses to fail a
// call as the system would. An I/O error is a read fault while reading, a write fault while
// writing, closing, truncating or renaming; no space, an exceeded quota and an exceeded
// file-size limit are kDiskFull.
SystemError SystemErrorOf(int os_error, Operation operation);

enum class Access { kRead, kWrite, kReadWrite };

// What an open for `access` fails with when the system refuses it with `os_error`: as
// SystemErrorOf for kOpen, but an I/O error is the fault of what the file is opened for, a
// read fault for reading and a write fault for writing, as it is at the read or write itself.
SystemError OpenErrorOf(int os_error, Access access);

// An advisory lock. Taking one that another open holds in a conflicting way fails with
// kSharingViolation at once; nothing waits. It is held until the file is closed.
enum class Lock { kNone, kShared, kExclusive };

enum class Creation {
  kOpenExisting,  // a missing file fails with kFileNotFound
  kOpenOrCreate,  // a missing file is created
  kCreateNew,     // the file is created; an existing name, a link included, fails kFileExists
};

struct OpenOptions {
  Access access = Access::kRead;
  Creation creation = Creation::kOpenExisting;
  // False: a symbolic link as the last component of the path fails with kBadPathName and is
  // never followed.
  bool follow_links = true;
  // The permission bits of a file the open creates, less the process's umask.
  uint32_t permissions = 0666;
};

enum class FileType { kRegular, kDirectory, kSymbolicLink, kOther };

struct FileStatus {
  FileType type = FileType::kOther;
  bool has_write_permission = false;  // any of the owner, group and other write bits
  uint32_t permissions = 0;           // the permission bits, 0777 at most
  uint64_t size = 0;
  int64_t modified = 0;  // last write, in seconds since 1970-01-01 00:00:00 UTC
  // Together, what tells one file from another on the machine.
  uint64_t device = 0;
  uint64_t inode = 0;
  // The null device (the character device 1:3), which reads as empty and takes every write.
  bool null_device = false;
};

// An open file. Destroying it closes it (a failure of that close goes unseen: call Close to
// see it).
class File {
 public:
  File() = default;
  virtual ~File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Takes `lock` (never waits). kNone does nothing.
  virtual SystemError Lock(Lock lock) = 0;
  // One read of up to buffer.size() bytes from `offset`; `count` is the number read. Fewer
  // than asked means the end of a regular file (or, of anything else, all it had at once).
  // Several threads may read one File at once.
  virtual SystemError Read(uint64_t offset, std::span<char> buffer, std::size_t& count) = 0;
  // Read as it would be if it never waited for the disk: when the bytes at `offset` are in
  // memory already, reads them as Read does and sets `cached`; when they would have to come
  // from the disk first, reads nothing and clears `cached`. A file that cannot tell fails
  // with kNotSupported (this default). Several threads may read one File at once.
  virtual SystemError ReadCached(uint64_t offset, std::span<char> buffer, std::size_t& count,
                                 bool& cached);
  // Tells the system that the file will be read soon, so that it may start bringing it into
  // memory now, without waiting for it. Changes nothing any read gives. A file that cannot
  // take the hint fails with kNotSupported (this default).
  virtual SystemError WillRead();
  // One write of up to bytes.size() bytes at `offset`; `count` is the number written, which
  // may be fewer than asked.
  virtual SystemError Write(uint64_t offset, std::span<const char> bytes, std::size_t& count) = 0;
  // The status of the open file (never of a link: an open file is not one).
  virtual SystemError Status(FileStatus& status) = 0;
  // Cuts or extends the file to `size` bytes.
  virtual SystemError Truncate(uint64_t size) = 0;
  // Sets the permission bits (0777 at most), whatever the umask.
  virtual SystemError SetPermissions(uint32_t permissions) = 0;
  // Fails with kSharingViolation when another open holds a record lock (fcntl, lockf) on any
  // part of the file. Record locks are apart from Lock's: programs that edit a file in place
  // take them, and a file they hold is not to be replaced under them.
  virtual SystemError CheckRecordLocks() = 0;
  // Closes the file, releasing its lock. Closing a closed file does nothing; a file is
  // closed after Close even when it reports an error.
  virtual SystemError Close() = 0;

  // Reads until `buffer` is full or the end of the file: Read as often as it takes. Several
  // threads may read one File at once.
  SystemError ReadAt(uint64_t offset, std::span<char> buffer, std::size_t& count);
  // Writes all of `bytes`: Write as often as it takes. A write that makes no progress fails
  // with kDiskFull. On failure `count` tells how many were written.
  SystemError WriteAt(uint64_t offset, std::span<const char> bytes, std::size_t& count);
  // The size of the file now, in bytes.
  SystemError Size(uint64_t& size);
};

// An open folder, read entry by entry in the order the file system gives ("." and ".."
// included).
class Directory {
 public:
  Directory() = default;
  virtual ~Directory() = default;
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;

  // Moves to the next entry: `found` is false when there is none. A failure ends the
  // reading as well.
  virtual SystemError Next(bool& found) = 0;
  // The current entry's name; valid until the next call of Next.
  virtual std::string_view name() const = 0;
  // The status of the current entry, following symbolic links (a dangling link fails with
  // kFileNotFound).
  virtual SystemError Status(FileStatus& status) = 0;
  // The type of the current entry as the folder itself records it, known without asking
  // the file system for the entry's status. False when the folder does not record it, and
  // for a symbolic link, whose target only Status can tell.
  virtual bool RecordedType(FileType& type) const = 0;
  // Takes an advisory lock on the folder itself, held until the Directory is destroyed;
  // as File::Lock.
  virtual SystemError Lock(Lock lock) = 0;
};

// An open folder whose files are opened by their names in it: the folder's path is looked up
// once, when it is opened, and not again for every file. It may be used from several threads
// at once.
class Folder {
 public:
  Folder() = default;
  virtual ~Folder() = default;
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  // Opens the entry `name` of the folder as Env::OpenFile opens the folder's path, "/" and
  // `name`, with the same outcome and the same failures (kPathNotFound when the folder has
  // gone meanwhile).
  virtual SystemError OpenFile(std::string_view name, const OpenOptions& options,
                               std::unique_ptr<File>& file) = 0;
};

class Env {
 public:
  Env() = default;
  virtual ~Env() = default;
  Env(const Env&) = delete;
  Env& operator=(const Env&) = delete;

  // The operating system's file system. It lives as long as the program.
  static Env& Default();

  // Opens `path` (absolute, or relative to the current directory) as `options` ask, into
  // `file`. It opens whatever the path names, a FIFO or a device included, without ever
  // waiting for one; what it opened is for Status to tell. A missing file fails with
  // kFileNotFound when its folder exists and kPathNotFound when a folder on the way is
  // missing; a path holding a NUL byte, or too long for any path, with kInvalidName. On
  // failure `file` is empty.
  virtual SystemError OpenFile(std::string_view path, const OpenOptions& options,
                               std::unique_ptr<File>& file) = 0;
  // The status of what `path` names; with `follow_links` false, of a symbolic link itself.
  virtual SystemError PathStatus(std::string_view path, bool follow_links, FileStatus& status) = 0;
  // Gives the file at `from` the name `to` in one step, replacing what `to` named (a link
  // itself, never what it points to). Both lie on one file system.
  virtual SystemError Rename(std::string_view from, std::string_view to) = 0;
  // Removes the name `path` (a link itself, never what it points to); not a folder.
  virtual SystemError Remove(std::string_view path) = 0;
  // Opens the folder `path` for reading its entries. A missing one fails with kPathNotFound.
  virtual SystemError OpenDirectory(std::string_view path,
                                    std::unique_ptr<Directory>& directory) = 0;
  // Makes the folder `path` with `permissions` (0777 at most) less the process's umask. An
  // existing name, a link included, fails with kFileExists; a missing folder on the way with
  // kPathNotFound.
  virtual SystemError MakeDirectory(std::string_view path, uint32_t permissions) = 0;
  // Opens the folder `path` for opening the files in it. A missing one, or something there
  // that is not a folder, fails with kPathNotFound.
  virtual SystemError OpenFolder(std::string_view path, std::unique_ptr<Folder>& folder) = 0;
  // The absolute path that `path` names, every symbolic link on the way resolved and no "."
  // or ".." left: what tells whether a link leads out of a folder. A missing path fails as
  // PathStatus does. An Env that cannot tell fails with kNotSupported (this default).
  virtual SystemError ResolvePath(std::string_view path, std::string& resolved);
};

// An Env that forwards every call to another one: the base of wrappers that change a few.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env& target) : target_(target) {}

  Env& target() const { return target_; }

  SystemError OpenFile(std::string_view path, const OpenOptions& options,
                       std::unique_ptr<File>& file) override {
    return target_.OpenFile(path, options, file);
  }
  SystemError PathStatus(std::string_view path, bool follow_links, FileStatus& status) override {
    return target_.PathStatus(path, follow_links, status);
  }
  SystemError Rename(std::string_view from, std::string_view to) override {
    return target_.Rename(from, to);
  }
  SystemError Remove(std::string_view path) override { return target_.Remove(path); }
  SystemError OpenDirectory(std::string_view path, std::unique_ptr<Directory>& directory) override {
    return target_.OpenDirectory(path, directory);
  }
  SystemError MakeDirectory(std::string_view path, uint32_t permissions) override {
    return target_.MakeDirectory(path, permissions);
  }
  SystemError OpenFolder(std::string_view path, std::unique_ptr<Folder>& folder) override {
    return target_.OpenFolder(path, folder);
  }
  SystemError ResolvePath(std::string_view path, std::string& resolved) override {
    return target_.ResolvePath(path, resolved);
  }

 private:
  Env& target_;
};

// An Env that opens the files directly in one folder through that folder, opened once when it
// is made (Folder), so that the path of a file there costs the lookup of its name alone. It
// gives the same outcomes as its target while the folder stays where it is: a file opened
// through the folder is the one its path names, and every other call, and every open when the
// folder cannot be opened, goes to the target as it stands. May be used from several threads
// at once.
class FolderEnv final : public EnvWrapper {
 public:
  // The folder `folder_path` of `target`: the files whose paths are it, "/" and a name.
  FolderEnv(Env& target, std::string_view folder_path);

  SystemError OpenFile(std::string_view path, const OpenOptions& options,
                       std::unique_ptr<File>& file) override;

 private:
  std::string prefix_;              // the folder's path and "/"
  std::unique_ptr<Folder> folder_;  // empty when it could not be opened
};

// How the file services open a file, composed of the calls above.

enum class Disposition {
  kOpenExisting,
  // Creates the file, or empties an existing one once the lock is held: a file that another
  // open has locked is never emptied.
  kCreateOrTruncate,
};

// Opens the regular file at `path` into `file`, taking `lock`, and gives its size at that
// moment. Nothing that is not a regular file is opened: a directory, a FIFO, a socket or a
// device fails with kAccessDenied. A regular file without any write permission bit counts as
// read-only, and asking it for write access fails with kAccessDenied even for a user whom
// permissions do not bind. Costs an open, a status request, a lock (unless kNone) and, to
// empty a file, a truncation. On failure `file` is empty.
SystemError OpenRegularFile(Env& env, std::string_view path, Access access, Lock lock,
                            Disposition disposition, std::unique_ptr<File>& file, uint64_t& size);

// Opens the existing regular file at `path` for reading, takes `lock`, and reads the file's
// first bytes into `first_bytes` in the same step: `count` bytes, and `size` the file's size.
// Refuses what OpenRegularFile refuses, with the same numbers (except that a lock held
// against a directory or another non-regular file may be reported first).
//
// A read that gives at least one byte but fewer than asked has met the end of a regular file,
// and the file's size is taken from it without asking for its status: an ordinary article
// costs an open, a lock, one read and a close. When the read gives nothing, fills
// `first_bytes`, or fails, the status is asked: anything but a regular file is refused then
// (a directory, a FIFO, a socket and the common devices all end up there, since the read of
// one refuses or gives nothing), and `size` is the size the status gives (`count` is cut to
// it). A read that fails on a regular file is not reported here: `count` is 0 and the failure
// shows when the bytes are read again. A device that gives a short first read is taken as a
// file of that size, read no further. With `follow_links` false, a symbolic link as the last
// component fails with kBadPathName, wherever it points.
SystemError OpenFileForReading(Env& env, std::string_view path, Lock lock,
                               std::span<char> first_bytes, std::unique_ptr<File>& file,
                               std::size_t& count, uint64_t& size, bool follow_links = true);

// Makes the folder `path` and every missing folder on the way to it, each with `permissions`
// less the umask. A folder that is there already (or a link to one) is kept; anything else
// of that name fails with kFileExists.
SystemError MakeDirectories(Env& env, std::string_view path, uint32_t permissions);

// Outside the Env: the time zone and the current directory, which no test needs to fail.

struct CalendarTime {
  int32_t year = 0;
  int32_t month = 0;  // 1 to 12
  int32_t day = 0;    // 1 to 31
  int32_t hour = 0;
  int32_t minute = 0;
  int32_t second = 0;
};

// `seconds` since 1970-01-01 00:00:00 UTC as local calendar time, in the time zone of the
// process. False when the time cannot be represented.
bool ToLocalTime(int64_t seconds, CalendarTime& local);

// The absolute path of the current directory.
SystemError CurrentDirectory(std::string& path);

// Whether this process may make files in the folder `path` (its effective user and groups
// may write and search it, on a file system not mounted read-only).
bool MayMakeFilesIn(std::string_view path);

// The process's umask: the permission bits a file it creates goes without. Read without
// changing it, so any thread may ask.
uint32_t CreationMask();

}  // namespace kb::platform
