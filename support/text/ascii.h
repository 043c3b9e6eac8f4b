#pragma once

// The character classes of ASCII, whatever the locale: the one definition of each that the
// program's readers of text (HTML, message box texts, settings) share.

namespace kb {

constexpr bool IsAsciiDigit(char byte) {
  return byte >= '0' && byte <= '9';
}
constexpr bool IsAsciiLetter(char byte) {
  return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z');
}
constexpr bool IsAsciiAlphanumeric(char byte) {
  return IsAsciiLetter(byte) || IsAsciiDigit(byte);
}
constexpr bool IsAsciiHexDigit(char byte) {
  return IsAsciiDigit(byte) || (byte >= 'A' && byte <= 'F') || (byte >= 'a' && byte <= 'f');
}
constexpr char ToLowerAscii(char byte) {
  return byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte - 'A' + 'a') : byte;
}

}  // namespace kb
