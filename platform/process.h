#pragma once

// The process itself: settings every front end makes once, when it starts, and what the
// process was given by whoever started it.

#include <optional>
#include <string>
#include <string_view>

namespace kb::platform {

// Makes a write past the process's file size limit (ulimit -f) fail like any other write, so
// that the file services report it, instead of ending the program with a signal.
void ReportFileSizeLimitAsError();

// The value of the environment variable `name`; nothing when it is not set. The environment
// is only read, so any thread may ask.
std::optional<std::string> EnvironmentVariable(std::string_view name);

}  // namespace kb::platform
