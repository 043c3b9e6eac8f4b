#pragma once

// What the console front end asks about the terminal it runs on.

namespace kb::platform {

// True when standard error is a terminal (a person is watching), false when it goes to a
// file or a pipe.
bool StandardErrorIsTerminal();

}  // namespace kb::platform
