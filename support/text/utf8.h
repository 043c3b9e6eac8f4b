#pragma once

// Reading and writing UTF-8, byte by byte, for the searches that look at characters rather
// than bytes. A sequence is valid as RFC 3629 has it: the shortest form of a code point up to
// U+10FFFF that is not a surrogate. Anything else is not UTF-8, and the search takes each of
// its bytes as itself.

#include <cstddef>
#include <string>
#include <string_view>

namespace kb {

// What the bytes at the start of a text hold.
struct Utf8Sequence {
  // The valid sequence's length (1 to 4); 0 when the bytes run out before a sequence that is
  // valid so far is complete; -1 when the first byte starts no valid sequence.
  int length = -1;
  char32_t code_point = 0;  // when the length is positive
};

// The sequence at the start of `bytes`, which must not be empty.
Utf8Sequence DecodeUtf8(std::string_view bytes);

// How many bytes at the start of `bytes` are below 0x80.
std::size_t AsciiPrefixLength(std::string_view bytes);

// The most bytes a code point takes in UTF-8.
inline constexpr std::size_t kLongestUtf8Sequence = 4;

// Writes the UTF-8 form of `code_point` (at most U+10FFFF) at `out`, which has room for
// kLongestUtf8Sequence bytes, and gives its length.
std::size_t EncodeUtf8(char32_t code_point, char* out);

// Appends the UTF-8 form of `code_point` (at most U+10FFFF) to `out`.
void AppendUtf8(char32_t code_point, std::string& out);

// Whether all of `text` is valid UTF-8.
bool IsUtf8(std::string_view text);

}  // namespace kb
