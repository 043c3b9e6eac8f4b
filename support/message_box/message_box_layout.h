#pragma once

// Where everything stands in a message box, in pixels, worked out in dialog units of the
// box's font (support/message_box/dialog_units.h, rounded up):
//  - the text is wrapped at 200 units; its block is the widest line plus 10 pixels wide and
//    as high as its lines;
//  - the band around it has a margin of 5 units on every side and is at least 45 units high;
//    an icon stands 5 units from the left edge, centred in the band, with the text 5 units to
//    its right; the text block is centred vertically in the band;
//  - buttons are 50 by 14 units, 5 units apart, in one row right below the band, centred in
//    the box, which is widened when the row and its two margins need more room;
//  - the box ends 5 units below the buttons.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "support/message_box/dialog_units.h"

namespace kb {

struct BoxSize {
  int32_t width = 0;
  int32_t height = 0;
};

struct BoxRect {
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
};

inline constexpr int32_t kBoxWrapUnits = 200;

struct BoxLayout {
  BoxSize box;  // the client area
  BoxRect band;
  BoxRect icon;  // empty without an icon
  BoxRect text;
  std::vector<BoxRect> buttons;
};

// `text_size` is the wrapped text as measured in the font (widest line, all lines);
// `icon_size` is {0, 0} for a box without an icon.
BoxLayout LayOutMessageBox(DialogBase base, BoxSize text_size, BoxSize icon_size,
                           std::size_t button_count);

// The top-left corner of a box of `box` size centred on `centre_on`, then moved as little as
// needed to lie wholly on `screen` (its top-left corner wins when the box is larger).
BoxRect PlaceMessageBox(BoxRect centre_on, BoxSize box, BoxRect screen);

}  // namespace kb
