#include "support/message_box/dialog_units.h"

namespace kb {

DialogBase DialogBaseOf(int32_t letters_width, int32_t cell_height) {
  return {.char_width = (letters_width / 26 + 1) / 2, .char_height = cell_height};
}

// A horizontal unit is char_width / 4 pixels: the window's rule writes it as
// v * (2 * char_width) / 8, which is the same quotient.
int32_t WindowPixelsX(DialogBase base, int32_t units) {
  return (units * base.char_width + 2) / 4;
}

int32_t WindowPixelsY(DialogBase base, int32_t units) {
  return (units * base.char_height + 4) / 8;
}

int32_t BoxPixelsX(DialogBase base, int32_t units) {
  return (units * base.char_width + 3) / 4;
}

int32_t BoxPixelsY(DialogBase base, int32_t units) {
  return (units * base.char_height + 7) / 8;
}

}  // namespace kb
