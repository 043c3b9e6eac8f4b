#include "platform/process.h"

#include <signal.h>

namespace kb::platform {

void ReportFileSizeLimitAsError() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, nullptr);
}

}  // namespace kb::platform
