#pragma once

// What a message box shows for a Message, decided without any window system: its lines, its
// buttons with the result each gives, which button is the default, which one Escape presses,
// and which icon stands beside the text.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/message_box/message.h"
#include "support/program_texts/program_texts.h"

namespace kb {

// The platform's command identifiers of the standard buttons, and the first identifier given
// to a button whose caption is not a standard one.
namespace command {
inline constexpr int32_t kOk = 1;
inline constexpr int32_t kCancel = 2;
inline constexpr int32_t kAbort = 3;
inline constexpr int32_t kRetry = 4;
inline constexpr int32_t kIgnore = 5;
inline constexpr int32_t kYes = 6;
inline constexpr int32_t kNo = 7;
inline constexpr int32_t kHelp = 9;
inline constexpr int32_t kFirstCustom = 100;
}  // namespace command

// The most buttons a caption list can give.
inline constexpr std::size_t kMaxBoxButtons = 8;

struct BoxButton {
  std::string caption;  // "&" marks the access key
  int32_t command_id;   // command::k..., or 100, 101, ... for a caption of our own
  int32_t result;       // what ShowMessage returns when this button is pressed
};

// The predefined system icons that an icon text can name.
namespace system_icon {
inline constexpr int32_t kApplication = 32512;
inline constexpr int32_t kStop = 32513;  // the stop sign of error messages
inline constexpr int32_t kQuestion = 32514;
inline constexpr int32_t kExclamation = 32515;
inline constexpr int32_t kInformation = 32516;
}  // namespace system_icon

struct BoxIcon {
  enum class Kind {
    kNone,     // no icon, and no room kept for one
    kSystem,   // the platform's predefined icon `number`
    kProgram,  // the program's own icon resource `number`
    kNamed,    // the icon resource `name` ("~" removed) or, with `is_file`, an icon file
  };
  Kind kind = Kind::kNone;
  int32_t number = 0;
  std::string name;
  bool is_file = false;
};

struct BoxContent {
  std::string lines;  // the text, "|" turned into "\n", trailing blanks removed
  std::string caption;
  BoxIcon icon;
  std::vector<BoxButton> buttons;     // left to right; never empty
  std::size_t default_index = 0;      // the button Enter presses and that has the focus first
  std::optional<std::size_t> cancel;  // the button Escape presses; none: Escape does nothing
};

// The captions of the standard buttons, which the user may replace; "&" marks the access key.
namespace text {
inline constexpr ReplaceableText kOkButton{"OkButton", "OK"};
inline constexpr ReplaceableText kYesButton{"YesButton", "&Yes"};
inline constexpr ReplaceableText kNoButton{"NoButton", "&No"};
inline constexpr ReplaceableText kAbortButton{"AbortButton", "&Abort"};
inline constexpr ReplaceableText kRetryButton{"RetryButton", "&Retry"};
inline constexpr ReplaceableText kIgnoreButton{"IgnoreButton", "&Ignore"};
inline constexpr ReplaceableText kCancelButton{"CancelButton", "Cancel"};
inline constexpr ReplaceableText kHelpButton{"HelpButton", "&Help"};
}  // namespace text

// The buttons for a buttons text:
//  - empty, or digits giving a mask without any standard bit: OK alone;
//  - beginning with a digit: the standard buttons whose bits the mask has, in the order of
//    button::k...; the result is the pressed button's bit;
//  - anything else: one button per "|"-separated caption (at most 8); a standard caption
//    gets its command identifier, the others 100, 101, ...; the result is the pressed
//    button's 1-based number.
// The standard buttons' captions are the texts above as in use (support/program_texts), and
// a caption of the list is standard when it equals one of those.
// `default_button` names the default by its bit (standard buttons) or 1-based number
// (captions); when it names no button present, the first button is the default.
BoxContent ContentOf(const Message& message);

// The icon an icon text names. FF 01 k (k a 16-bit little-endian number) is the system icon
// k - 1; FF 02 k the program's icon resource k - 1; "~NAME" the program's resource NAME; any
// other text, trailing blanks removed, an icon file; an empty text no icon.
BoxIcon IconOf(std::string_view icon_text);

}  // namespace kb
