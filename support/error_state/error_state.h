#pragma once

// The error state through which every file and queue operation reports its outcome.
// Operations return nothing: on success they clear the state, on failure they post a number,
// and the caller tests ErrorCode() right after the call.
//
// Each thread has a state of its own, as each has its own errno: an operation clears or
// posts the state of the thread that calls it, and nothing another thread does changes what
// a caller reads right after its call. There is no locking.

#include <cstdint>
#include <string>
#include <string_view>

#include "support/text/text.h"

namespace kb {

// Numbers the services post. Numbers 301 to 391 are 300 plus an operating-system error value.
namespace error {
inline constexpr int32_t kFileNotFound = 2;
inline constexpr int32_t kPathNotFound = 3;
inline constexpr int32_t kTooManyOpenFiles = 4;
inline constexpr int32_t kAccessDenied = 5;
inline constexpr int32_t kInsufficientMemory = 8;
inline constexpr int32_t kEntryNotFound = 30;
inline constexpr int32_t kRecordNotAvailable = 33;
inline constexpr int32_t kFileNotOpen = 37;
inline constexpr int32_t kInvalidFilename = 45;
inline constexpr int32_t kInvalidRecordDeclaration = 47;
inline constexpr int32_t kFileAlreadyOpen = 52;
inline constexpr int32_t kNoCreateAttribute = 54;
inline constexpr int32_t kUnknownErrorPosted = 81;
}  // namespace error

// Length of ErrorText(): the message, cut at 79 characters and padded with blanks.
inline constexpr std::size_t kErrorTextLength = 80;

// Posts error `number`. `os_error` is the operating system's error value behind the failure,
// in the numbering of the message table (the platform layer translates its own values), or 0
// when the failure is not the operating system's. It is kept as OsError(). Posting 0 posts
// 300 + os_error instead.
void PostError(int32_t number, uint32_t os_error = 0);

// ErrorCode() becomes 0 and ErrorText() all blanks; OsError() keeps its value.
void ClearError();

// The number of the last error, 0 after a successful operation.
int32_t ErrorCode();

// The message of the last error: exactly 80 bytes, blank-padded, never beginning with a blank.
// Callers that append it to a message get its blank filling too.
std::string_view ErrorText();

// The operating-system error value captured by the last post.
uint32_t OsError();

// The 80-byte error text of `message`: leading blanks removed, cut at 79 characters, padded.
FixedString<kErrorTextLength> ErrorTextOf(std::string_view message);

// The message for `number`: its entry of the message table (error_messages.h) as in use, or,
// for a number without one, the entry of 81 ("Unknown Error Posted"), " : " and the number.
std::string ErrorMessage(int32_t number);

}  // namespace kb
