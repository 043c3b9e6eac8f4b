#include "support/message_box/message_box_content.h"

#include <array>

#include "support/text/ascii.h"
#include "support/text/text.h"

namespace kb {
namespace {

struct StandardButton {
  int32_t bit;
  const ReplaceableText* caption;
  int32_t command_id;
};

// Left to right, as they stand in a box. Their captions are the program's texts in use.
constexpr std::array<StandardButton, 8> kStandardButtons{{
    {button::kOk, &text::kOkButton, command::kOk},
    {button::kYes, &text::kYesButton, command::kYes},
    {button::kNo, &text::kNoButton, command::kNo},
    {button::kAbort, &text::kAbortButton, command::kAbort},
    {button::kRetry, &text::kRetryButton, command::kRetry},
    {button::kIgnore, &text::kIgnoreButton, command::kIgnore},
    {button::kCancel, &text::kCancelButton, command::kCancel},
    {button::kHelp, &text::kHelpButton, command::kHelp},
}};

std::vector<BoxButton> StandardButtonsOf(int32_t mask) {
  std::vector<BoxButton> buttons;
  for (const StandardButton& standard : kStandardButtons) {
    if ((mask & standard.bit) != 0) {
      buttons.push_back(
          {std::string(ProgramText(*standard.caption)), standard.command_id, standard.bit});
    }
  }
  // A box must always be able to end, so a mask without any known bit means OK alone.
  if (buttons.empty()) {
    buttons.push_back({std::string(ProgramText(text::kOkButton)), command::kOk, button::kOk});
  }
  return buttons;
}

std::vector<BoxButton> CaptionButtonsOf(std::string_view captions) {
  std::vector<BoxButton> buttons;
  int32_t next_custom_id = command::kFirstCustom;
  while (buttons.size() < kMaxBoxButtons) {
    const std::size_t bar = captions.find('|');
    const std::string_view caption = captions.substr(0, bar);
    int32_t command_id = 0;
    for (const StandardButton& standard : kStandardButtons) {
      if (caption == ProgramText(*standard.caption)) command_id = standard.command_id;
    }
    if (command_id == 0) command_id = next_custom_id++;
    const auto number = static_cast<int32_t>(buttons.size() + 1);
    buttons.push_back({std::string(caption), command_id, number});
    if (bar == std::string_view::npos) break;
    captions.remove_prefix(bar + 1);
  }
  return buttons;
}

}  // namespace

BoxContent ContentOf(const Message& message) {
  BoxContent content;
  content.lines = MessageLines(message.text);
  content.caption = std::string(Clip(message.caption));
  content.icon = IconOf(message.icon);

  const std::string_view buttons_text = Clip(message.buttons);
  if (buttons_text.empty() || IsAsciiDigit(buttons_text.front())) {
    content.buttons = StandardButtonsOf(buttons_text.empty() ? 0 : TextToNumber(buttons_text));
  } else {
    content.buttons = CaptionButtonsOf(buttons_text);
  }

  // The default argument is compared with each button's result: its bit or its number.
  for (std::size_t i = 0; i < content.buttons.size(); ++i) {
    if (message.default_button != 0 && content.buttons[i].result == message.default_button) {
      content.default_index = i;
    }
    if (content.buttons[i].command_id == command::kCancel && !content.cancel) {
      content.cancel = i;
    }
  }
  return content;
}

BoxIcon IconOf(std::string_view icon_text) {
  BoxIcon icon;
  // The numbered forms are binary and read before clipping: a number whose high byte is 0x20
  // would otherwise lose it.
  if (icon_text.size() >= 4 && icon_text[0] == '\xFF' &&
      (icon_text[1] == '\x01' || icon_text[1] == '\x02')) {
    const int32_t k =
        static_cast<unsigned char>(icon_text[2]) | (static_cast<unsigned char>(icon_text[3]) << 8);
    icon.kind = icon_text[1] == '\x01' ? BoxIcon::Kind::kSystem : BoxIcon::Kind::kProgram;
    icon.number = k - 1;
    return icon;
  }
  const std::string_view name = Clip(icon_text);
  if (name.empty()) return icon;
  icon.kind = BoxIcon::Kind::kNamed;
  icon.is_file = name.front() != '~';
  icon.name = icon.is_file ? name : name.substr(1);
  return icon;
}

}  // namespace kb
