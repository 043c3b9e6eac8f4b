#pragma once

// Reading and writing UTF-8, byte by byte, for the searches that look at characters rather
// than bytes. A sequence is valid as RFC 3629 has it: the shortest form of a code point up to
// U+10FFFF that is not a surrogate. Anything else is not UTF-8, and the search takes each of
// its bytes as itself.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
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
inline Utf8Sequence DecodeUtf8(std::string_view bytes);

// How many bytes at the start of `bytes` are below 0x80.
inline std::size_t AsciiPrefixLength(std::string_view bytes);

// The most bytes a code point takes in UTF-8.
inline constexpr std::size_t kLongestUtf8Sequence = 4;

// Writes the UTF-8 form of `code_point` (at most U+10FFFF) at `out`, which has room for
// kLongestUtf8Sequence bytes, and gives its length.
std::size_t EncodeUtf8(char32_t code_point, char* out);

// Appends the UTF-8 form of `code_point` (at most U+10FFFF) to `out`.
void AppendUtf8(char32_t code_point, std::string& out);

// Whether all of `text` is valid UTF-8.
bool IsUtf8(std::string_view text);

// How many characters `text` holds, as a reader counts them: one for each UTF-8 sequence,
// and one for each byte that starts none (text in another code page, a cut sequence).
std::size_t CountCharacters(std::string_view text);

// Both are called for every character of a search, so they are inlined.

inline Utf8Sequence DecodeUtf8(std::string_view bytes) {
  const auto lead = static_cast<unsigned char>(bytes[0]);
  if (lead < 0x80) return {1, lead};

  // The length a lead byte announces, its payload bits, and the range the second byte must
  // fall in, which rules out overlong forms, surrogates and code points above U+10FFFF.
  int length;
  char32_t code_point;
  unsigned char second_low = 0x80, second_high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code_point = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code_point = lead & 0x0F;
    if (lead == 0xE0) second_low = 0xA0;
    if (lead == 0xED) second_high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code_point = lead & 0x07;
    if (lead == 0xF0) second_low = 0x90;
    if (lead == 0xF4) second_high = 0x8F;
  } else {
    return {};
  }

  for (int i = 1; i < length; ++i) {
    if (static_cast<std::size_t>(i) == bytes.size()) return {0, 0};
    const auto byte = static_cast<unsigned char>(bytes[i]);
    const bool fits = i == 1 ? byte >= second_low && byte <= second_high : (byte & 0xC0) == 0x80;
    if (!fits) return {};
    code_point = code_point << 6 | (byte & 0x3F);
  }
  return {length, code_point};
}

inline std::size_t AsciiPrefixLength(std::string_view bytes) {
  constexpr uint64_t kHighBits = 0x8080808080808080;
  std::size_t at = 0;
  // Most text is ASCII through and through: 32 bytes at a time while it is.
  for (; at + 32 <= bytes.size(); at += 32) {
    uint64_t words[4];
    std::memcpy(words, bytes.data() + at, sizeof words);
    if (((words[0] | words[1] | words[2] | words[3]) & kHighBits) != 0) break;
  }
  for (; at + 8 <= bytes.size(); at += 8) {
    uint64_t eight;
    std::memcpy(&eight, bytes.data() + at, sizeof eight);
    if (const uint64_t high = eight & kHighBits; high != 0) {
      const int bit = std::endian::native == std::endian::little ? std::countr_zero(high)
                                                                 : std::countl_zero(high);
      return at + static_cast<std::size_t>(bit / 8);
    }
  }
  while (at < bytes.size() && static_cast<unsigned char>(bytes[at]) < 0x80) ++at;
  return at;
}

}  // namespace kb
