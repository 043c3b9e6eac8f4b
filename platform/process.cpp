#include "platform/process.h"

#include <signal.h>

#include <cstdlib>

namespace kb::platform {

void ReportFileSizeLimitAsError() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, nullptr);
}

std::optional<std::string> EnvironmentVariable(std::string_view name) {
  const char* const value = std::getenv(std::string(name).c_str());
  if (value == nullptr) return std::nullopt;
  return value;
}

}  // namespace kb::platform
