#include "server/url_text.h"

namespace kb::server {
namespace {

int HexValue(char digit) {
  if (digit >= '0' && digit <= '9') return digit - '0';
  if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
  if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
  return -1;
}

bool IsUnreserved(char byte) {
  return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
         (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' || byte == '~';
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

std::string PercentEncodePath(std::string_view bytes) {
  constexpr std::string_view kHexDigits = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(bytes.size());
  for (char byte : bytes) {
    if (IsUnreserved(byte) || byte == '/') {
      encoded += byte;
    } else {
      const auto value = static_cast<unsigned char>(byte);
      encoded.append(1, '%').append(1, kHexDigits[value >> 4]).append(1, kHexDigits[value & 0xF]);
    }
  }
  return encoded;
}

}  // namespace kb::server
