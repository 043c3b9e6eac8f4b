#pragma once

// The file system as kbsearch uses it: regular files opened with an access and a lock, read
// and written at an offset; directories read entry by entry; time stamps turned into local
// calendar time; the current directory. Every call into the operating system's file services
// is made behind this header, in one place, and nothing above it sees an OS header or errno.
//
// Failures come back as a SystemError: the operating system's condition in the numbering of
// the file services' message table (support/error_state/error_state.h), so that the layer above can
// post it as it stands or map it. 0 means success.

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
inline constexpr SystemError kGeneralFailure = 31;    // also: an I/O error of the device
inline constexpr SystemError kSharingViolation = 32;  // another open holds a conflicting lock
inline constexpr SystemError kDiskFull = 39;
inline constexpr SystemError kNotSupported = 50;
inline constexpr SystemError kInvalidParameter = 87;
inline constexpr SystemError kInvalidName = 123;  // a name that cannot be a path (holds a NUL)
inline constexpr SystemError kBadPathName = 161;  // a path that cannot be resolved (link loop)
}  // namespace system_error

enum class Access { kRead, kWrite, kReadWrite };

// The advisory lock taken on a file when it is opened, held until it is closed. A lock that
// another open file holds in a conflicting way fails the open with kSharingViolation at once;
// nothing waits.
enum class Lock { kNone, kShared, kExclusive };

enum class Disposition {
  kOpenExisting,
  // Creates the file, or empties an existing one once the lock is held: a file that another
  // open has locked is never emptied.
  kCreateOrTruncate,
};

// An open regular file. It owns its descriptor and closes it when destroyed.
class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool is_open() const { return descriptor_ >= 0; }

  // Reads up to buffer.size() bytes from `offset`, stopping early only at the end of the file;
  // `count` is the number read.
  SystemError ReadAt(uint64_t offset, std::span<char> buffer, std::size_t& count) const;
  // Writes all of `bytes` at `offset`; on failure `count` tells how many were written.
  SystemError WriteAt(uint64_t offset, std::span<const char> bytes, std::size_t& count) const;
  // The size of the file now, in bytes.
  SystemError Size(uint64_t& size) const;
  // Closes the file, releasing its lock. Closing a closed file does nothing.
  SystemError Close();

 private:
  friend SystemError OpenFile(std::string_view, Access, Lock, Disposition, File&, uint64_t&);
  friend SystemError OpenFileForReading(std::string_view, Lock, std::span<char>, File&,
                                        std::size_t&, uint64_t&);
  explicit File(int descriptor) : descriptor_(descriptor) {}

  int descriptor_ = -1;
};

// Opens the regular file at `path` (absolute, or relative to the current directory) into
// `file`, taking `lock`, and gives its size at that moment. Nothing that is not a regular
// file is opened: a directory, a FIFO, a socket or a device fails with kAccessDenied, and
// opening any of them never waits. A regular file without any write permission bit counts as
// read-only, and asking it for write access fails with kAccessDenied even for a user whom
// permissions do not bind. A path holding a NUL byte fails with kInvalidName. On failure
// `file` is left closed.
SystemError OpenFile(std::string_view path, Access access, Lock lock, Disposition disposition,
                     File& file, uint64_t& size);

// Opens the existing regular file at `path` for reading, takes `lock`, and reads the file's
// first bytes into `first_bytes` in the same step: `count` bytes, and `size` the file's size.
// Refuses what OpenFile refuses, with the same numbers (except that a lock held against a
// directory or another non-regular file may be reported first), and never waits either.
//
// A read that gives at least one byte but fewer than asked has met the end of a regular file,
// and the file's size is taken from it without asking the file system for its status: an
// ordinary article costs an open, a lock, one read and a close. When the read gives nothing,
// fills `first_bytes`, or fails, the status is asked: anything but a regular file is refused
// then (a directory, a FIFO, a socket and the common devices all end up there), and `size` is
// the size the file system gives (`count` is cut to it). A read that fails on a regular file
// is not reported here: `count` is 0 and the failure shows when the bytes are read again.
// A device that gives a short first read is taken as a file of that size, read no further.
SystemError OpenFileForReading(std::string_view path, Lock lock, std::span<char> first_bytes,
                               File& file, std::size_t& count, uint64_t& size);

enum class FileType { kRegular, kDirectory, kOther };

struct FileStatus {
  FileType type = FileType::kOther;
  bool has_write_permission = false;  // any of the owner, group and other write bits
  uint64_t size = 0;
  int64_t modified = 0;  // last write, in seconds since 1970-01-01 00:00:00 UTC
};

// The entries of one directory, in the order the file system returns them ("." and ".."
// included). Reading stops at the first failure as at the end; failure() tells them apart.
class DirectoryReader {
 public:
  DirectoryReader();
  ~DirectoryReader();
  DirectoryReader(const DirectoryReader&) = delete;
  DirectoryReader& operator=(const DirectoryReader&) = delete;

  // Opens the directory at `path`. A directory that does not exist, or a path on the way to
  // it that does not, fails with kPathNotFound; something there that is not a directory
  // (followed through symbolic links) with kAccessDenied, as when it may not be read.
  SystemError Open(std::string_view path);
  // Moves to the next entry; false when there is none, or when reading the directory failed.
  bool Next();
  // Why the last Next gave false: kNone at the end of the entries, otherwise the failure.
  SystemError failure() const;
  // The current entry's name; valid until the next call of Next.
  std::string_view name() const;
  // The status of the current entry, following symbolic links (a dangling link fails with
  // kFileNotFound).
  SystemError Status(FileStatus& status) const;
  // The type of the current entry as the directory itself records it, known without asking
  // the file system for the entry's status. False when the directory does not record it, and
  // for a symbolic link, whose target only Status can tell.
  bool RecordedType(FileType& type) const;

 private:
  struct Stream;
  std::unique_ptr<Stream> stream_;
};

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

}  // namespace kb::platform
