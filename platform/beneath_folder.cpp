#include "platform/beneath_folder.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/posix_file.h"

namespace kb::platform {

std::unique_ptr<BeneathFolder> BeneathFolder::Open(std::string_view path) {
  const std::string name(path);
  const int descriptor = ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return nullptr;
  return std::unique_ptr<BeneathFolder>(new BeneathFolder(descriptor));
}

BeneathFolder::~BeneathFolder() {
  ::close(descriptor_);
}

int BeneathFolder::OpenRegularFile(std::string_view relative, uint64_t& size) const {
  const std::string name(relative);
  if (name.empty() || name.find('\0') != std::string::npos) return -1;
  open_how how{};
  // Non-blocking, so that a FIFO or a device does not hold the open; the check below turns
  // them away.
  how.flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  const auto descriptor =
      static_cast<int>(::syscall(SYS_openat2, descriptor_, name.c_str(), &how, sizeof how));
  if (descriptor < 0) return -1;
  struct stat status {};
  if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(descriptor);
    return -1;
  }
  // Reads from here on wait as reads of a regular file do.
  ::fcntl(descriptor, F_SETFL, O_RDONLY);
  size = static_cast<uint64_t>(status.st_size);
  return descriptor;
}

BeneathEnv::BeneathEnv(Env& target)
    : EnvWrapper(target), descriptor_(::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC)) {
  if (char* real = ::realpath(".", nullptr)) {
    root_ = real;
    ::free(real);
  }
}

bool BeneathEnv::Inside(int descriptor) const {
  if (root_.empty()) return false;
  std::string opened(4096, '\0');
  const std::string link = "/proc/self/fd/" + std::to_string(descriptor);
  const ssize_t length = ::readlink(link.c_str(), opened.data(), opened.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= opened.size()) return false;
  opened.resize(static_cast<std::size_t>(length));
  return opened.size() > root_.size() && opened.starts_with(root_) &&
         (root_ == "/" || opened[root_.size()] == '/');
}

BeneathEnv::~BeneathEnv() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

SystemError BeneathEnv::OpenFile(std::string_view path, const OpenOptions& options,
                                 std::unique_ptr<File>& file) {
  file.reset();
  if (descriptor_ < 0 || !path.starts_with("./") || path.size() == 2 ||
      options.access != Access::kRead || options.creation != Creation::kOpenExisting) {
    return EnvWrapper::OpenFile(path, options, file);
  }
  const std::string name(path.substr(2));
  if (name.find('\0') != std::string::npos) return system_error::kInvalidName;
  open_how how{};
  // As every open of the file services: no wait on a FIFO or a device.
  how.flags =
      O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (options.follow_links ? 0 : O_NOFOLLOW);
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  int descriptor;
  do {
    descriptor =
        static_cast<int>(::syscall(SYS_openat2, descriptor_, name.c_str(), &how, sizeof how));
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) {
    if (errno == ENOSYS || errno == EPERM) return EnvWrapper::OpenFile(path, options, file);
    if (errno != EXDEV) return OpenErrorOf(errno, options.access);
    // A path that leads out of the folder, or through an absolute link, which may lead back
    // in: opened as it stands, and kept only when what was opened lies inside.
    do {
      descriptor = ::openat(descriptor_, name.c_str(), static_cast<int>(how.flags));
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0) return OpenErrorOf(errno, options.access);
    if (!Inside(descriptor)) {
      ::close(descriptor);
      return system_error::kAccessDenied;
    }
  }
  file = AdoptFile(descriptor);
  return file ? system_error::kNone : system_error::kNotEnoughMemory;
}

}  // namespace kb::platform
