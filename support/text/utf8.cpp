#include "support/text/utf8.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace kb {
namespace {

bool IsContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

}  // namespace

Utf8Sequence DecodeUtf8(std::string_view bytes) {
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
    const bool fits = i == 1 ? byte >= second_low && byte <= second_high : IsContinuation(byte);
    if (!fits) return {};
    code_point = code_point << 6 | (byte & 0x3F);
  }
  return {length, code_point};
}

std::size_t AsciiPrefixLength(std::string_view bytes) {
  std::size_t at = 0;
  for (; at + 8 <= bytes.size(); at += 8) {
    uint64_t eight;
    std::memcpy(&eight, bytes.data() + at, sizeof eight);
    if (const uint64_t high = eight & 0x8080808080808080; high != 0) {
      const int bit = std::endian::native == std::endian::little ? std::countr_zero(high)
                                                                 : std::countl_zero(high);
      return at + static_cast<std::size_t>(bit / 8);
    }
  }
  while (at < bytes.size() && static_cast<unsigned char>(bytes[at]) < 0x80) ++at;
  return at;
}

std::size_t EncodeUtf8(char32_t code_point, char* out) {
  if (code_point < 0x80) {
    out[0] = static_cast<char>(code_point);
    return 1;
  }
  if (code_point < 0x800) {
    out[0] = static_cast<char>(0xC0 | code_point >> 6);
    out[1] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 2;
  }
  if (code_point < 0x10000) {
    out[0] = static_cast<char>(0xE0 | code_point >> 12);
    out[1] = static_cast<char>(0x80 | (code_point >> 6 & 0x3F));
    out[2] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | code_point >> 18);
  out[1] = static_cast<char>(0x80 | (code_point >> 12 & 0x3F));
  out[2] = static_cast<char>(0x80 | (code_point >> 6 & 0x3F));
  out[3] = static_cast<char>(0x80 | (code_point & 0x3F));
  return 4;
}

void AppendUtf8(char32_t code_point, std::string& out) {
  char bytes[kLongestUtf8Sequence];
  out.append(bytes, EncodeUtf8(code_point, bytes));
}

bool IsUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    at += AsciiPrefixLength(text.substr(at));
    if (at == text.size()) break;
    const Utf8Sequence sequence = DecodeUtf8(text.substr(at));
    if (sequence.length <= 0) return false;
    at += static_cast<std::size_t>(sequence.length);
  }
  return true;
}

}  // namespace kb
