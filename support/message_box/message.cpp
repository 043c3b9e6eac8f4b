#include "support/message_box/message.h"

#include "support/text/text.h"

namespace kb {

std::string MessageLines(std::string_view text, std::string_view line_break) {
  std::string lines;
  for (char byte : Clip(text)) {
    if (byte == '|') {
      lines.append(line_break);
    } else {
      lines.push_back(byte);
    }
  }
  return lines;
}

}  // namespace kb
