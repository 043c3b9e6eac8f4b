#include "platform/beneath_folder.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>

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

}  // namespace kb::platform
