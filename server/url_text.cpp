#include "server/url_text.h"

namespace kb::server {
namespace {

int HexValue(char digit) {
  if (digit >= '0' && digit <= '9') return digit - '0';
  if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
  if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::string> PercentDecode(std::string_view encoded, bool plus_is_blank) {
  std::string decoded;
  decoded.reserve(encoded.size());
  for (std::size_t at = 0; at < encoded.size(); ++at) {
    const char byte = encoded[at];
    if (byte == '%') {
      if (encoded.size() - at < 3) return std::nullopt;
      const int high = HexValue(encoded[at + 1]);
      const int low = HexValue(encoded[at + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      decoded += static_cast<char>(high * 16 + low);
      at += 2;
    } else if (byte == '+' && plus_is_blank) {
      decoded += ' ';
    } else {
      decoded += byte;
    }
  }
  return decoded;
}

}  // namespace kb::server
