// The file system over POSIX: every open, read, write, lock and stat of kbsearch is made here.

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <ctime>
#include <utility>
#include <vector>

#include "platform/file_system.h"

namespace kb::platform {
namespace {

// The one place where an errno value becomes a SystemError.
SystemError FromErrno(int error) {
  switch (error) {
    case 0:
      return system_error::kNone;
    case ENOENT:
      return system_error::kFileNotFound;
    case ENOTDIR:
      return system_error::kPathNotFound;
    case ELOOP:
      return system_error::kBadPathName;
    case ENAMETOOLONG:
      return system_error::kInvalidName;
    case EMFILE:
    case ENFILE:
      return system_error::kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
    // A FIFO without a reader, or a socket: something that is not a file to read or write.
    case ENXIO:
      return system_error::kAccessDenied;
    // flock's answer when another open holds a conflicting lock.
    case EWOULDBLOCK:
      return system_error::kSharingViolation;
    case ENOMEM:
      return system_error::kNotEnoughMemory;
    case EBADF:
      return system_error::kInvalidHandle;
    case EXDEV:
      return system_error::kNotSameDevice;
    case ENOSPC:
    case EDQUOT:
      return system_error::kDiskFull;
    case EOPNOTSUPP:
      return system_error::kNotSupported;
    case EINVAL:
      return system_error::kInvalidParameter;
    default:
      return system_error::kGeneralFailure;
  }
}

SystemError LastError() {
  return FromErrno(errno);
}

// A path as the system takes it: NUL-terminated, in room that needs no allocation.
using NativePath = std::array<char, PATH_MAX>;

// `path` into `native`; false when it holds a NUL byte of its own or is too long for any path
// (the kernel refuses those as well).
bool ToNative(std::string_view path, NativePath& native) {
  if (path.size() >= native.size() || path.find('\0') != std::string_view::npos) return false;
  path.copy(native.data(), path.size());
  native[path.size()] = '\0';
  return true;
}

// Tells a missing file (its directory exists) from a missing directory on the way to it.
SystemError MissingFileOrPath(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return system_error::kFileNotFound;
  const std::string directory(slash == 0 ? path.substr(0, 1) : path.substr(0, slash));
  struct stat status;
  if (stat(directory.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
    return system_error::kFileNotFound;
  }
  return system_error::kPathNotFound;
}

int OpenFlags(Access access, Disposition disposition) {
  // O_NONBLOCK keeps an open of a FIFO or a device from waiting for the other side; such
  // files are refused once fstat has seen them, and regular files ignore the flag.
  int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  switch (access) {
    case Access::kRead:
      flags |= O_RDONLY;
      break;
    case Access::kWrite:
      flags |= O_WRONLY;
      break;
    case Access::kReadWrite:
      flags |= O_RDWR;
      break;
  }
  // Never O_TRUNC: an existing file is emptied only once its lock is held.
  if (disposition == Disposition::kCreateOrTruncate) flags |= O_CREAT;
  return flags;
}

SystemError TakeLock(int descriptor, Lock lock) {
  if (lock == Lock::kNone) return system_error::kNone;
  const int operation = (lock == Lock::kShared ? LOCK_SH : LOCK_EX) | LOCK_NB;
  while (flock(descriptor, operation) != 0) {
    if (errno != EINTR) return LastError();
  }
  return system_error::kNone;
}

// Opens `path` with `flags`, telling a missing file from a missing directory.
SystemError OpenDescriptor(std::string_view path, int flags, int& descriptor) {
  // A leading "./" names the directory the rest is resolved in anyway, and costs a lookup.
  while (path.size() > 2 && path.starts_with("./") && path[2] != '/') path.remove_prefix(2);
  NativePath native;
  if (!ToNative(path, native)) return system_error::kInvalidName;
  do {
    descriptor = open(native.data(), flags, 0666);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) {
    if (errno == ENOENT) return MissingFileOrPath(native.data());
    return LastError();
  }
  return system_error::kNone;
}

// Any of the owner, group and other write bits. A file without one is read-only, even for a
// user whom permissions do not bind.
bool HasWritePermission(const struct stat& status) {
  return (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

FileStatus ToFileStatus(const struct stat& status) {
  FileStatus result;
  if (S_ISREG(status.st_mode)) {
    result.type = FileType::kRegular;
  } else if (S_ISDIR(status.st_mode)) {
    result.type = FileType::kDirectory;
  }
  result.has_write_permission = HasWritePermission(status);
  result.size = static_cast<uint64_t>(status.st_size);
  result.modified = static_cast<int64_t>(status.st_mtim.tv_sec);
  return result;
}

}  // namespace

File::~File() {
  Close();
}

File::File(File&& other) noexcept : descriptor_(std::exchange(other.descriptor_, -1)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    descriptor_ = std::exchange(other.descriptor_, -1);
  }
  return *this;
}

SystemError File::ReadAt(uint64_t offset, std::span<char> buffer, std::size_t& count) const {
  count = 0;
  while (count < buffer.size()) {
    const ssize_t got = pread(descriptor_, buffer.data() + count, buffer.size() - count,
                              static_cast<off_t>(offset + count));
    if (got < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    if (got == 0) break;
    count += static_cast<std::size_t>(got);
  }
  return system_error::kNone;
}

SystemError File::WriteAt(uint64_t offset, std::span<const char> bytes, std::size_t& count) const {
  count = 0;
  while (count < bytes.size()) {
    const ssize_t put = pwrite(descriptor_, bytes.data() + count, bytes.size() - count,
                               static_cast<off_t>(offset + count));
    if (put < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    // A write that makes no progress would make none on a retry either.
    if (put == 0) return system_error::kDiskFull;
    count += static_cast<std::size_t>(put);
  }
  return system_error::kNone;
}

SystemError File::Size(uint64_t& size) const {
  struct stat status;
  if (fstat(descriptor_, &status) != 0) return LastError();
  size = static_cast<uint64_t>(status.st_size);
  return system_error::kNone;
}

SystemError File::Close() {
  if (descriptor_ < 0) return system_error::kNone;
  const int descriptor = std::exchange(descriptor_, -1);
  // The descriptor is gone even when close reports an error, so it is never retried; an
  // interrupted close has still closed it.
  if (close(descriptor) != 0 && errno != EINTR) return LastError();
  return system_error::kNone;
}

SystemError OpenFile(std::string_view path, Access access, Lock lock, Disposition disposition,
                     File& file, uint64_t& size) {
  file.Close();
  int descriptor;
  if (const SystemError error = OpenDescriptor(path, OpenFlags(access, disposition), descriptor))
    return error;
  File opened(descriptor);

  struct stat status;
  if (fstat(descriptor, &status) != 0) return LastError();
  if (!S_ISREG(status.st_mode)) return system_error::kAccessDenied;
  if (!HasWritePermission(status) && access != Access::kRead) return system_error::kAccessDenied;

  if (const SystemError error = TakeLock(descriptor, lock)) return error;

  if (disposition == Disposition::kCreateOrTruncate && status.st_size != 0) {
    if (ftruncate(descriptor, 0) != 0) return LastError();
    status.st_size = 0;
  }
  size = static_cast<uint64_t>(status.st_size);
  file = std::move(opened);
  return system_error::kNone;
}

SystemError OpenFileForReading(std::string_view path, Lock lock, std::span<char> first_bytes,
                               File& file, std::size_t& count, uint64_t& size) {
  file.Close();
  count = 0;
  int descriptor;
  if (const SystemError error =
          OpenDescriptor(path, OpenFlags(Access::kRead, Disposition::kOpenExisting), descriptor)) {
    return error;
  }
  File opened(descriptor);
  if (const SystemError error = TakeLock(descriptor, lock)) return error;

  // pread, not read: a FIFO, a socket or a terminal refuses it at once (ESPIPE) instead of
  // handing out what another process wrote. O_NONBLOCK keeps any device from waiting.
  ssize_t got;
  do {
    got = pread(descriptor, first_bytes.data(), first_bytes.size(), 0);
  } while (got < 0 && errno == EINTR);
  if (got > 0 && static_cast<std::size_t>(got) < first_bytes.size()) {
    count = static_cast<std::size_t>(got);
    size = count;
    file = std::move(opened);
    return system_error::kNone;
  }

  struct stat status;
  if (fstat(descriptor, &status) != 0) return LastError();
  if (!S_ISREG(status.st_mode)) return system_error::kAccessDenied;
  size = static_cast<uint64_t>(status.st_size);
  count = got > 0 ? static_cast<std::size_t>(std::min<uint64_t>(got, size)) : 0;
  file = std::move(opened);
  return system_error::kNone;
}

struct DirectoryReader::Stream {
  ~Stream() {
    if (directory != nullptr) closedir(directory);
  }
  DIR* directory = nullptr;
  struct dirent* entry = nullptr;
  SystemError failure = system_error::kNone;
};

DirectoryReader::DirectoryReader() = default;
DirectoryReader::~DirectoryReader() = default;

SystemError DirectoryReader::Open(std::string_view path) {
  stream_.reset();
  NativePath native;
  if (!ToNative(path, native)) return system_error::kInvalidName;
  int descriptor;
  do {
    descriptor = open(native.data(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) {
    if (errno == ENOENT) return system_error::kPathNotFound;
    // Something is there but is not a directory, or a path on the way is not one.
    if (errno == ENOTDIR) {
      struct stat status;
      return stat(native.data(), &status) == 0 ? system_error::kAccessDenied
                                               : system_error::kPathNotFound;
    }
    return LastError();
  }
  DIR* directory = fdopendir(descriptor);
  if (directory == nullptr) {
    const SystemError error = LastError();
    close(descriptor);
    return error;
  }
  stream_ = std::make_unique<Stream>();
  stream_->directory = directory;
  return system_error::kNone;
}

bool DirectoryReader::Next() {
  if (!stream_) return false;
  // readdir tells the end from a failure only through errno.
  errno = 0;
  stream_->entry = readdir(stream_->directory);
  if (stream_->entry == nullptr) stream_->failure = LastError();
  return stream_->entry != nullptr;
}

SystemError DirectoryReader::failure() const {
  return stream_ ? stream_->failure : system_error::kNone;
}

std::string_view DirectoryReader::name() const {
  if (!stream_ || stream_->entry == nullptr) return {};
  return stream_->entry->d_name;
}

SystemError DirectoryReader::Status(FileStatus& status) const {
  if (!stream_ || stream_->entry == nullptr) return system_error::kInvalidHandle;
  struct stat native;
  if (fstatat(dirfd(stream_->directory), stream_->entry->d_name, &native, 0) != 0) {
    return LastError();
  }
  status = ToFileStatus(native);
  return system_error::kNone;
}

bool DirectoryReader::RecordedType(FileType& type) const {
  if (!stream_ || stream_->entry == nullptr) return false;
  switch (stream_->entry->d_type) {
    case DT_REG:
      type = FileType::kRegular;
      return true;
    case DT_DIR:
      type = FileType::kDirectory;
      return true;
    case DT_FIFO:
    case DT_CHR:
    case DT_BLK:
    case DT_SOCK:
      type = FileType::kOther;
      return true;
    default:  // DT_UNKNOWN, DT_LNK
      return false;
  }
}

bool ToLocalTime(int64_t seconds, CalendarTime& local) {
  const time_t time = static_cast<time_t>(seconds);
  struct tm fields;
  if (localtime_r(&time, &fields) == nullptr) return false;
  local.year = fields.tm_year + 1900;
  local.month = fields.tm_mon + 1;
  local.day = fields.tm_mday;
  local.hour = fields.tm_hour;
  local.minute = fields.tm_min;
  local.second = fields.tm_sec;
  return true;
}

SystemError CurrentDirectory(std::string& path) {
  std::vector<char> buffer(256);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return LastError();
    buffer.resize(buffer.size() * 2);
  }
  path.assign(buffer.data());
  return system_error::kNone;
}

}  // namespace kb::platform
