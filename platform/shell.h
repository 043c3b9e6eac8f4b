#pragma once

// The program's place among the other programs of the desktop: moving to the directory it
// works in, and handing a document to the desktop's opener (xdg-open, found on PATH) so that
// it comes up in the program the user associates with it. (The current directory itself is
// asked of platform/file_system.h.)
//
// Nothing here touches the error state of the file services.

#include <cstdint>
#include <string>
#include <string_view>

namespace kb::platform {

// What OpenDocument answers. A number above 32 means the opener was started; the others name
// the reason it was not, in the numbering of the launch messages.
inline constexpr int kOpenerWaitMs = 2000;

namespace launch {
inline constexpr int32_t kStarted = 33;
inline constexpr int32_t kOpenerFailed = 0;          // the opener failed in another way
inline constexpr int32_t kFileNotFound = 2;          // the document does not exist
inline constexpr int32_t kPathNotFound = 3;          // its directory does not exist
inline constexpr int32_t kNotEnoughMemory = 8;       // no memory or process slot for the opener
inline constexpr int32_t kNoAssociatedProgram = 31;  // no opener on PATH, or it cannot be run
}  // namespace launch

// Starts the opener on `document` (a path; a relative one is taken from `directory`) with
// `directory` as its working directory: the opener runs detached, in its own session, with
// standard input and output on /dev/null. It is awaited for kOpenerWaitMs at most: one still
// running then has started (and is never waited for again), one that ended with status 0
// has done its work, and one that failed gives the code closest to its exit status (those
// xdg-open documents):
//   2 (a file does not exist)                        kFileNotFound
//   3 (a required tool is missing), 4 (the action failed)   kNoAssociatedProgram
//   any other status, or ended by a signal           kOpenerFailed
// No child process is left behind to be reaped. An empty `directory` means the current one.
int32_t OpenDocument(std::string_view document, std::string_view directory);

// Makes `path` the current working directory. On failure returns false and leaves `reason`
// holding the system's description of why.
bool ChangeDirectory(std::string_view path, std::string& reason);

}  // namespace kb::platform
