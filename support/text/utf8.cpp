#include "support/text/utf8.h"

namespace kb {
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

std::size_t CountCharacters(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t at = 0; at < text.size(); ++count) {
    if (const std::size_t ascii = AsciiPrefixLength(text.substr(at)); ascii > 0) {
      at += ascii;
      count += ascii - 1;
      continue;
    }
    const Utf8Sequence sequence = DecodeUtf8(text.substr(at));
    at += sequence.length > 0 ? static_cast<std::size_t>(sequence.length) : 1;
  }
  return count;
}

}  // namespace kb
