#pragma once

// A failure the search reports, as a value, and whoever it is reported to. Every step of the
// search (the templates, the scan, the page, the browser launch) reports its failures to a
// FailureReporter that its caller passes; the steps know nothing of screens.

#include <cstdint>
#include <string_view>

namespace kb {

// What a failure's message box shows, and what the message is about, for a front end that
// reports failures as data as well as text. The views are valid only during the call that
// passes the failure.
struct Failure {
  // The message box; a failure's box has a single OK button.
  std::string_view text = {};
  std::string_view caption = {};
  std::string_view icon = {};
  // The error number the text gives: the file services' number (support/error_state), or
  // the browser launch's code.
  int64_t error_code = 0;
  // The file or folder the failure concerns, as the text names it ("./ZEB/ZEB1.htm",
  // "lheader.htm", "./ZebResult.htm", "./ZEB"); empty when it concerns none.
  std::string_view path = {};
};

class FailureReporter {
 public:
  virtual ~FailureReporter() = default;

  // Reports `failure` and returns once it has been seen to (a message box answered). Called
  // on the thread that runs the step, never on the threads that read articles for it.
  virtual void ReportFailure(const Failure& failure) = 0;
};

}  // namespace kb
