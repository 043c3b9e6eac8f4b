#include "platform/window_system.h"

#include "support/text/text.h"

namespace kb::platform {

std::string IconResourceName(std::string_view file_name) {
  std::string name = Upper(file_name);
  for (char& byte : name) {
    if (byte == '.') byte = '_';
  }
  return name;
}

std::size_t PictureMaxLength(std::string_view picture) {
  if (picture.size() < 2 || (picture[0] != 's' && picture[0] != 'S')) return 0;
  std::size_t length = 0;
  for (const char digit : picture.substr(1)) {
    if (digit < '0' || digit > '9' || length > 65535) return 0;
    length = length * 10 + static_cast<std::size_t>(digit - '0');
  }
  return length;
}

}  // namespace kb::platform
