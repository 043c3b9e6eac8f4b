#pragma once

// What a message box is asked to show, and the rules for its texts that hold wherever a
// message is shown (in the window's dialog or on a console).

#include <cstdint>
#include <string>
#include <string_view>

namespace kb {

// The icon text naming the platform's stop icon, as error messages use it.
inline constexpr std::string_view kStopIcon{"\xFF\x01\x02\x7F", 4};

// Bits of the standard buttons, in the order they stand from left to right. An empty buttons
// text, or a mask of 0, means OK alone.
namespace button {
inline constexpr int32_t kOk = 1;
inline constexpr int32_t kYes = 2;
inline constexpr int32_t kNo = 4;
inline constexpr int32_t kAbort = 8;
inline constexpr int32_t kRetry = 16;
inline constexpr int32_t kIgnore = 32;
inline constexpr int32_t kCancel = 64;
inline constexpr int32_t kHelp = 128;
}  // namespace button

struct Message {
  std::string text;     // "|" starts a new line
  std::string caption;  // empty: an empty caption bar
  std::string icon;     // empty: no icon; kStopIcon: the stop icon
  std::string buttons;  // empty, a bit mask in digits, or captions separated by "|"
  int32_t default_button = 0;
  int32_t style = 0;  // non-zero: system-modal
};

// The lines a message text shows: trailing blanks removed from the text, then split at each
// "|". A text that starts with "|" begins with an empty line.
std::string MessageLines(std::string_view text, std::string_view line_break = "\n");

}  // namespace kb
