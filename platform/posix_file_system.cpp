// The file system over POSIX: every open, read, write, lock, stat, rename and unlink of
// kbsearch is made here.

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/uio.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "platform/posix_file.h"

namespace kb::platform {

// The one place where an errno value becomes a SystemError.
SystemError SystemErrorOf(int os_error, Operation operation) {
  switch (os_error) {
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
    // The file-size limit (ulimit -f), with SIGXFSZ ignored (platform/process.h).
    case EFBIG:
      return system_error::kDiskFull;
    case EEXIST:
      return system_error::kFileExists;
    case EOPNOTSUPP:
      return system_error::kNotSupported;
    case EINVAL:
      return system_error::kInvalidParameter;
    case EIO:
      switch (operation) {
        case Operation::kRead:
        case Operation::kReadDirectory:
          return system_error::kReadFault;
        case Operation::kWrite:
        case Operation::kClose:
        case Operation::kTruncate:
        case Operation::kRename:
          return system_error::kWriteFault;
        default:
          return system_error::kGeneralFailure;
      }
    default:
      return system_error::kGeneralFailure;
  }
}

SystemError OpenErrorOf(int os_error, Access access) {
  if (os_error == EIO) {
    return SystemErrorOf(os_error, access == Access::kRead ? Operation::kRead : Operation::kWrite);
  }
  return SystemErrorOf(os_error, Operation::kOpen);
}

namespace {

SystemError LastError(Operation operation) {
  return SystemErrorOf(errno, operation);
}

// A path as the system takes it: NUL-terminated, in room that needs no allocation.
using NativePath = std::array<char, PATH_MAX>;

// `path` into `native`; false when it holds a NUL byte of its own or is too long for any path
// (the kernel refuses those as well). A leading "./" names the directory the rest is
// resolved in anyway, and costs a lookup: it is left out.
bool ToNative(std::string_view path, NativePath& native) {
  while (path.size() > 2 && path.starts_with("./") && path[2] != '/') path.remove_prefix(2);
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

int OpenFlags(const OpenOptions& options) {
  // O_NONBLOCK keeps an open of a FIFO or a device from waiting for the other side; regular
  // files ignore the flag.
  int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  switch (options.access) {
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
  switch (options.creation) {
    case Creation::kOpenExisting:
      break;
    case Creation::kOpenOrCreate:
      flags |= O_CREAT;
      break;
    case Creation::kCreateNew:
      flags |= O_CREAT | O_EXCL;
      break;
  }
  if (!options.follow_links) flags |= O_NOFOLLOW;
  return flags;
}

SystemError TakeLock(int descriptor, Lock lock) {
  if (lock == Lock::kNone) return system_error::kNone;
  const int operation = (lock == Lock::kShared ? LOCK_SH : LOCK_EX) | LOCK_NB;
  while (flock(descriptor, operation) != 0) {
    if (errno != EINTR) return LastError(Operation::kLock);
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
  } else if (S_ISLNK(status.st_mode)) {
    result.type = FileType::kSymbolicLink;
  }
  result.has_write_permission = HasWritePermission(status);
  result.permissions = static_cast<uint32_t>(status.st_mode & 0777);
  result.size = static_cast<uint64_t>(status.st_size);
  result.modified = static_cast<int64_t>(status.st_mtim.tv_sec);
  result.device = static_cast<uint64_t>(status.st_dev);
  result.inode = static_cast<uint64_t>(status.st_ino);
  result.null_device =
      S_ISCHR(status.st_mode) && major(status.st_rdev) == 1 && minor(status.st_rdev) == 3;
  return result;
}

class PosixFile final : public File {
 public:
  explicit PosixFile(int descriptor) : descriptor_(descriptor) {}
  ~PosixFile() override { Close(); }

  SystemError Lock(platform::Lock lock) override { return TakeLock(descriptor_, lock); }

  SystemError Read(uint64_t offset, std::span<char> buffer, std::size_t& count) override {
    // pread, not read: a FIFO, a socket or a terminal refuses it at once (ESPIPE) instead of
    // handing out what another process wrote.
    ssize_t got;
    do {
      got = pread(descriptor_, buffer.data(), buffer.size(), static_cast<off_t>(offset));
    } while (got < 0 && errno == EINTR);
    count = got > 0 ? static_cast<std::size_t>(got) : 0;
    return got < 0 ? LastError(Operation::kRead) : system_error::kNone;
  }

  SystemError ReadCached(uint64_t offset, std::span<char> buffer, std::size_t& count,
                         bool& cached) override {
    iovec part{.iov_base = buffer.data(), .iov_len = buffer.size()};
    ssize_t got;
    do {
      got = preadv2(descriptor_, &part, 1, static_cast<off_t>(offset), RWF_NOWAIT);
    } while (got < 0 && errno == EINTR);
    count = got > 0 ? static_cast<std::size_t>(got) : 0;
    cached = got >= 0;
    if (got >= 0 || errno == EAGAIN) return system_error::kNone;
    return LastError(Operation::kReadCached);
  }

  SystemError WillRead() override {
    // posix_fadvise gives its error back rather than in errno.
    const int error = posix_fadvise(descriptor_, 0, 0, POSIX_FADV_WILLNEED);
    return error == 0 ? system_error::kNone : SystemErrorOf(error, Operation::kWillRead);
  }

  SystemError Write(uint64_t offset, std::span<const char> bytes, std::size_t& count) override {
    ssize_t put;
    do {
      put = pwrite(descriptor_, bytes.data(), bytes.size(), static_cast<off_t>(offset));
    } while (put < 0 && errno == EINTR);
    count = put > 0 ? static_cast<std::size_t>(put) : 0;
    return put < 0 ? LastError(Operation::kWrite) : system_error::kNone;
  }

  SystemError Status(FileStatus& status) override {
    struct stat native;
    if (fstat(descriptor_, &native) != 0) return LastError(Operation::kStatus);
    status = ToFileStatus(native);
    return system_error::kNone;
  }

  SystemError Truncate(uint64_t size) override {
    int result;
    do {
      result = ftruncate(descriptor_, static_cast<off_t>(size));
    } while (result != 0 && errno == EINTR);
    return result != 0 ? LastError(Operation::kTruncate) : system_error::kNone;
  }

  SystemError SetPermissions(uint32_t permissions) override {
    if (fchmod(descriptor_, static_cast<mode_t>(permissions & 0777)) != 0) {
      return LastError(Operation::kSetPermissions);
    }
    return system_error::kNone;
  }

  SystemError CheckRecordLocks() override {
    // Open file description locks see every record lock another open holds, those of this
    // process included; where the system lacks them, a process's own locks go unseen.
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    if (::fcntl(descriptor_, F_OFD_GETLK, &probe) != 0) {
      if (errno != EINVAL) return LastError(Operation::kLock);
      probe = {};
      probe.l_type = F_WRLCK;
      probe.l_whence = SEEK_SET;
      if (::fcntl(descriptor_, F_GETLK, &probe) != 0) return LastError(Operation::kLock);
    }
    return probe.l_type == F_UNLCK ? system_error::kNone : system_error::kSharingViolation;
  }

  SystemError Close() override {
    if (descriptor_ < 0) return system_error::kNone;
    const int descriptor = std::exchange(descriptor_, -1);
    // The descriptor is gone even when close reports an error, so it is never retried; an
    // interrupted close has still closed it.
    if (close(descriptor) != 0 && errno != EINTR) return LastError(Operation::kClose);
    return system_error::kNone;
  }

 private:
  int descriptor_;
};

// Opens `native`, a path relative to the folder `folder` (AT_FDCWD: the current directory),
// into `file`. `full_path()` gives the path from the current directory, asked only to tell a
// missing file from a missing folder.
template <typename FullPath>
SystemError OpenFileAt(int folder, const char* native, const OpenOptions& options,
                       std::unique_ptr<File>& file, FullPath full_path) {
  int descriptor;
  do {
    descriptor =
        openat(folder, native, OpenFlags(options), static_cast<mode_t>(options.permissions));
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) {
    if (errno == ENOENT) return MissingFileOrPath(full_path());
    return OpenErrorOf(errno, options.access);
  }
  file.reset(new (std::nothrow) PosixFile(descriptor));
  if (!file) {
    close(descriptor);
    return system_error::kNotEnoughMemory;
  }
  return system_error::kNone;
}

class PosixFolder final : public Folder {
 public:
  PosixFolder(int descriptor, std::string_view path) : descriptor_(descriptor), path_(path) {}
  ~PosixFolder() override { close(descriptor_); }

  SystemError OpenFile(std::string_view name, const OpenOptions& options,
                       std::unique_ptr<File>& file) override {
    file.reset();
    NativePath native;
    if (!ToNative(name, native)) return system_error::kInvalidName;
    return OpenFileAt(descriptor_, native.data(), options, file,
                      [&] { return path_ + "/" + std::string(name); });
  }

 private:
  int descriptor_;
  std::string path_;
};

class PosixDirectory final : public Directory {
 public:
  explicit PosixDirectory(DIR* stream) : stream_(stream) {}
  ~PosixDirectory() override { closedir(stream_); }

  SystemError Next(bool& found) override {
    errno = 0;
    entry_ = readdir(stream_);
    found = entry_ != nullptr;
    return found || errno == 0 ? system_error::kNone : LastError(Operation::kReadDirectory);
  }

  std::string_view name() const override {
    return entry_ != nullptr ? std::string_view(entry_->d_name) : std::string_view();
  }

  SystemError Status(FileStatus& status) override {
    if (entry_ == nullptr) return system_error::kInvalidHandle;
    struct stat native;
    if (fstatat(dirfd(stream_), entry_->d_name, &native, 0) != 0) {
      return LastError(Operation::kStatus);
    }
    status = ToFileStatus(native);
    return system_error::kNone;
  }

  bool RecordedType(FileType& type) const override {
    if (entry_ == nullptr) return false;
    switch (entry_->d_type) {
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

  SystemError Lock(platform::Lock lock) override { return TakeLock(dirfd(stream_), lock); }

 private:
  DIR* stream_;
  struct dirent* entry_ = nullptr;
};

class PosixEnv final : public Env {
 public:
  SystemError OpenFile(std::string_view path, const OpenOptions& options,
                       std::unique_ptr<File>& file) override {
    file.reset();
    NativePath native;
    if (!ToNative(path, native)) return system_error::kInvalidName;
    return OpenFileAt(AT_FDCWD, native.data(), options, file, [&] { return native.data(); });
  }

  SystemError PathStatus(std::string_view path, bool follow_links, FileStatus& status) override {
    NativePath native;
    if (!ToNative(path, native)) return system_error::kInvalidName;
    struct stat result;
    const int outcome = follow_links ? stat(native.data(), &result) : lstat(native.data(), &result);
    if (outcome != 0) {
      if (errno == ENOENT) return MissingFileOrPath(native.data());
      return LastError(Operation::kPathStatus);
    }
    status = ToFileStatus(result);
    return system_error::kNone;
  }

  SystemError Rename(std::string_view from, std::string_view to) override {
    NativePath native_from;
    NativePath native_to;
    if (!ToNative(from, native_from) || !ToNative(to, native_to)) {
      return system_error::kInvalidName;
    }
    if (rename(native_from.data(), native_to.data()) != 0) return LastError(Operation::kRename);
    return system_error::kNone;
  }

  SystemError Remove(std::string_view path) override {
    NativePath native;
    if (!ToNative(path, native)) return system_error::kInvalidName;
    if (unlink(native.data()) != 0) return LastError(Operation::kRemove);
    return system_error::kNone;
  }

  SystemError MakeDirectory(std::string_view path, uint32_t permissions) override {
    NativePath native;
    if (!ToNative(path, native)) return system_error::kInvalidName;
    if (mkdir(native.data(), static_cast<mode_t>(permissions & 0777)) != 0) {
      return errno == ENOENT ? system_error::kPathNotFound : LastError(Operation::kMakeDirectory);
    }
    return system_error::kNone;
  }

  SystemError OpenDirectory(std::string_view path, std::unique_ptr<Directory>& directory) override {
    directory.reset();
    NativePath native;
    if (!ToNative(path, native)) return system_error::kInvalidName;
    int descriptor;
    do {
      descriptor = open(native.data(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0) {
      return errno == ENOENT ? system_error::kPathNotFound : LastError(Operation::kOpenDirectory);
    }
    DIR* stream = fdopendir(descriptor);
    if (stream == nullptr) {
      const SystemError error = LastError(Operation::kOpenDirectory);
      close(descriptor);
      return error;
    }
    directory.reset(new (std::nothrow) PosixDirectory(stream));
    if (!directory) {
      closedir(stream);
      return system_error::kNotEnoughMemory;
    }
    return system_error::kNone;
  }

  SystemError OpenFolder(std::string_view path, std::unique_ptr<Folder>& folder) override {
    folder.reset();
    NativePath native;
    if (!ToNative(path, native)) return system_error::kInvalidName;
    // O_PATH: the folder is only a place to look names up in, which needs no permission to
    // read it.
    int descriptor;
    do {
      descriptor = open(native.data(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0) {
      return errno == ENOENT ? system_error::kPathNotFound : LastError(Operation::kOpenFolder);
    }
    folder.reset(new (std::nothrow) PosixFolder(descriptor, path));
    if (!folder) {
      close(descriptor);
      return system_error::kNotEnoughMemory;
    }
    return system_error::kNone;
  }

  SystemError ResolvePath(std::string_view path, std::string& resolved) override {
    NativePath native;
    if (!ToNative(path, native)) return system_error::kInvalidName;
    std::unique_ptr<char, decltype(&free)> real(realpath(native.data(), nullptr), &free);
    if (real == nullptr) {
      if (errno == ENOENT) return MissingFileOrPath(native.data());
      return LastError(Operation::kPathStatus);
    }
    resolved = real.get();
    return system_error::kNone;
  }
};

}  // namespace

Env& Env::Default() {
  static PosixEnv env;
  return env;
}

std::unique_ptr<File> AdoptFile(int descriptor) {
  std::unique_ptr<File> file(new (std::nothrow) PosixFile(descriptor));
  if (!file) close(descriptor);
  return file;
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
    if (errno != ERANGE) return LastError(Operation::kStatus);
    buffer.resize(buffer.size() * 2);
  }
  path.assign(buffer.data());
  return system_error::kNone;
}

bool MayMakeFilesIn(std::string_view path) {
  NativePath native;
  return ToNative(path, native) && faccessat(AT_FDCWD, native.data(), W_OK | X_OK, AT_EACCESS) == 0;
}

uint32_t CreationMask() {
  // The kernel shows the umask in the process's status; umask() itself can only be read by
  // setting it, which would race with files that other threads create meanwhile.
  const int status = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  if (status >= 0) {
    std::array<char, 4096> text;
    const ssize_t got = read(status, text.data(), text.size() - 1);
    close(status);
    if (got > 0) {
      const std::string_view lines(text.data(), static_cast<std::size_t>(got));
      constexpr std::string_view kField = "\nUmask:\t";
      const std::size_t at = lines.find(kField);
      if (at != std::string_view::npos) {
        uint32_t mask = 0;
        for (std::size_t i = at + kField.size(); i < lines.size(); ++i) {
          if (lines[i] < '0' || lines[i] > '7') break;
          mask = mask * 8 + static_cast<uint32_t>(lines[i] - '0');
        }
        return mask & 0777;
      }
    }
  }
  const mode_t mask = umask(022);
  umask(mask);
  return static_cast<uint32_t>(mask) & 0777;
}

}  // namespace kb::platform
