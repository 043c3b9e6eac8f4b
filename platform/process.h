#pragma once

// The process as a whole: the settings every front end makes once, when it starts, what the
// machine offers it, and what whoever started it gave it.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kb::platform {

// Sets the process up as both front ends need it; call it first thing in main, before any
// thread is made. A write past the process's file size limit (ulimit -f) then fails like any
// other write, so that the file services report it, instead of ending the program with a
// signal and a page half written; a write to a pipe whose reader has gone fails with EPIPE
// in the same way. A program the front ends start finds both signals as a fresh one does.
// A standard descriptor (0, 1, 2) found closed is held by the null device, open for reading
// only: no file the program opens takes its place, and writes to it still fail with EBADF.
void PrepareProcess();

// The processors this process may run on (at least 1): the online ones, fewer when the
// process is bound to some of them.
std::size_t ProcessorCount();

// The value of the environment variable `name`; nothing when it is not set. The environment
// is only read, so any thread may ask.
std::optional<std::string> EnvironmentVariable(std::string_view name);

// Makes the calling thread yield to every other of the machine's: for work in the background
// that no one waits for.
void LowerThreadPriority();

}  // namespace kb::platform
