#pragma once

// Handing the results page to the desktop, which opens it in the user's web browser. The
// opener is awaited a moment at most (platform/shell.h): one that fails at once is a launch
// that failed; the browser is never waited for.

#include <cstdint>
#include <string>
#include <string_view>

#include "app/base/failure.h"

namespace kb {

// What a browser launch asked of the shell, and what the shell answered.
struct BrowserLaunch {
  std::string verb = {};
  std::string file = {};
  std::string directory = {};  // the whole working directory, as deep as a path can go
  std::string parameters = {};
  int16_t show_mode = 0;
  int64_t result = 0;  // above 32 when the opener was started
};

// Asks the desktop to open `page` in the working directory. A launch that fails with a code
// that has a message (LaunchErrorText) is reported to `reporter` in a box captioned "ERROR"
// with the stop icon; other codes report nothing. (The texts are replaceable,
// app/base/replaceable_texts.h.)
BrowserLaunch LaunchBrowser(std::string_view page, FailureReporter& reporter);

// The message for a failed launch's code, or empty for a code without one (or whose message
// the settings made empty).
std::string_view LaunchErrorText(int64_t code);

// The short form of a path. Linux has no short forms: the path is returned without trailing
// blanks and cut at 260 bytes, and an empty path stands for the whole working directory.
// Clears the error state and never posts to it.
std::string ShortPath(std::string_view path);

}  // namespace kb
