#pragma once

// Settings of the whole process that every front end makes once, when it starts.

namespace kb::platform {

// Makes a write past the process's file size limit (ulimit -f) fail like any other write, so
// that the file services report it, instead of ending the program with a signal.
void ReportFileSizeLimitAsError();

}  // namespace kb::platform
