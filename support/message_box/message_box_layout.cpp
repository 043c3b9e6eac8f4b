#include "support/message_box/message_box_layout.h"

#include <algorithm>

namespace kb {
namespace {

constexpr int32_t kMarginUnits = 5;
constexpr int32_t kMinBandUnits = 45;
constexpr int32_t kButtonWidthUnits = 50;
constexpr int32_t kButtonHeightUnits = 14;
constexpr int32_t kButtonGapUnits = 5;
constexpr int32_t kTextExtraPixels = 10;

int32_t Centred(int32_t outer_start, int32_t outer_length, int32_t inner_length) {
  return outer_start + (outer_length - inner_length) / 2;
}

int32_t KeptOnScreen(int32_t start, int32_t length, int32_t screen_start, int32_t screen_length) {
  const int32_t last_start = screen_start + screen_length - length;
  return std::max(screen_start, std::min(start, last_start));
}

}  // namespace

BoxLayout LayOutMessageBox(DialogBase base, BoxSize text_size, BoxSize icon_size,
                           std::size_t button_count) {
  const int32_t margin_x = BoxPixelsX(base, kMarginUnits);
  const int32_t margin_y = BoxPixelsY(base, kMarginUnits);
  const bool has_icon = icon_size.width > 0 && icon_size.height > 0;

  BoxLayout layout;
  layout.text.width = text_size.width + kTextExtraPixels;
  layout.text.height = text_size.height;
  layout.text.x = has_icon ? margin_x + icon_size.width + margin_x : margin_x;

  layout.band.width = layout.text.x + layout.text.width + margin_x;
  layout.band.height =
      std::max({layout.text.height + 2 * margin_y, has_icon ? icon_size.height + 2 * margin_y : 0,
                BoxPixelsY(base, kMinBandUnits)});
  layout.text.y = Centred(0, layout.band.height, layout.text.height);
  if (has_icon) {
    layout.icon = {.x = margin_x,
                   .y = Centred(0, layout.band.height, icon_size.height),
                   .width = icon_size.width,
                   .height = icon_size.height};
  }

  const int32_t button_width = BoxPixelsX(base, kButtonWidthUnits);
  const int32_t button_height = BoxPixelsY(base, kButtonHeightUnits);
  const int32_t gap = BoxPixelsX(base, kButtonGapUnits);
  const auto count = static_cast<int32_t>(button_count);
  const int32_t row_width = count > 0 ? count * button_width + (count - 1) * gap : 0;

  layout.box.width = std::max(layout.band.width, row_width + 2 * margin_x);
  layout.box.height = layout.band.height + button_height + margin_y;
  layout.band.width = layout.box.width;

  int32_t x = Centred(0, layout.box.width, row_width);
  for (int32_t i = 0; i < count; ++i) {
    layout.buttons.push_back(
        {.x = x, .y = layout.band.height, .width = button_width, .height = button_height});
    x += button_width + gap;
  }
  return layout;
}

BoxRect PlaceMessageBox(BoxRect centre_on, BoxSize box, BoxRect screen) {
  const int32_t x = Centred(centre_on.x, centre_on.width, box.width);
  const int32_t y = Centred(centre_on.y, centre_on.height, box.height);
  return {.x = KeptOnScreen(x, box.width, screen.x, screen.width),
          .y = KeptOnScreen(y, box.height, screen.y, screen.height),
          .width = box.width,
          .height = box.height};
}

}  // namespace kb
