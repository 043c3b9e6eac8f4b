#pragma once

// The error table: the message of each number the error state posts (error_state.h). Each
// message may be replaced (key Error<N>), by a text of at most kLongestErrorMessage bytes, so
// that it fits the 80-byte error text.

#include <cstddef>
#include <cstdint>
#include <span>

#include "support/program_texts/program_texts.h"

namespace kb {

inline constexpr std::size_t kLongestErrorMessage = 79;

// Every message, by increasing number.
std::span<const NumberedText> ErrorMessageTexts();

// The message of `number`; none for a number without one.
const ReplaceableText* ErrorMessageText(int32_t number);

}  // namespace kb
