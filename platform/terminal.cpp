#include "platform/terminal.h"

#include <unistd.h>

namespace kb::platform {

bool StandardErrorIsTerminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

}  // namespace kb::platform
