#include "platform/process.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace kb::platform {

void PrepareProcess() {
  // A standard descriptor that whoever started the program closed would go to the next file
  // opened (the stop's self-pipe, an article), and results meant for standard output would
  // be written into that. Each closed one gets the null device, opened for reading only, so
  // that a write to it fails with EBADF as it would on the closed descriptor.
  for (int standard = 0; standard <= 2; ++standard) {
    if (::fcntl(standard, F_GETFD) == -1 && errno == EBADF) {
      const int null = ::open("/dev/null", O_RDONLY);
      if (null != standard && null >= 0) ::close(null);
    }
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, nullptr);
  // Likewise a write to a pipe whose reader has gone fails with EPIPE, for the program to end
  // as it chooses, instead of ending it with a signal in the middle of whatever it does.
  ::sigaction(SIGPIPE, &ignore, nullptr);
}

std::size_t ProcessorCount() {
  cpu_set_t allowed;
  if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
    const int count = CPU_COUNT(&allowed);
    if (count > 0) return static_cast<std::size_t>(count);
  }
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<std::size_t>(online) : 1;
}

std::optional<std::string> EnvironmentVariable(std::string_view name) {
  const char* const value = std::getenv(std::string(name).c_str());
  if (value == nullptr) return std::nullopt;
  return value;
}

void LowerThreadPriority() {
  // On Linux the nice value is the thread's own; a failure leaves it as it was.
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
}

}  // namespace kb::platform
