#pragma once

// Handing the results page to the desktop, which opens it in the user's web browser. The
// launch returns as soon as the opener has been started; the browser is never waited for.

#include <cstdint>
#include <string>
#include <string_view>

#include "app/state/search_screen.h"
#include "app/state/search_state.h"

namespace kb {

// Shows "Executing browser..." in the status line and asks the desktop to open
// state.result_file_name in the working directory, filling state.launch. A launch that fails
// with a code that has a message (LaunchErrorText) is reported in a box captioned "ERROR"
// with the stop icon; other codes show nothing. (The texts are the program's texts in use,
// support/program_texts.)
void LaunchBrowser(SearchState& state, SearchScreen& screen);

// The message for a failed launch's code, or empty for a code without one (or whose message
// the settings made empty).
std::string_view LaunchErrorText(int64_t code);

// The short form of a path. Linux has no short forms: the path is returned without trailing
// blanks and cut at 260 bytes, and an empty path stands for the whole working directory.
// Clears the error state and never posts to it.
std::string ShortPath(std::string_view path);

}  // namespace kb
