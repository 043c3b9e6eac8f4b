#pragma once

// Dialog units: the lengths in which the main window and the message box are laid out, so
// that both grow with their font. One horizontal unit is a quarter of the font's average
// character width, one vertical unit an eighth of its height.
//
// The two layouts turn units into pixels differently: the main window rounds to the nearest
// pixel, the message box rounds up.

#include <cstdint>

namespace kb {

// The 52 letters whose width, measured in the dialog's font, gives its average character width.
inline constexpr char kDialogUnitLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// The average character width and the height of a dialog font, in pixels.
struct DialogBase {
  int32_t char_width = 0;
  int32_t char_height = 0;
};

// The base of a font whose 52 letters are `letters_width` pixels wide and whose character cell
// is `cell_height` pixels high: the width is (letters_width / 26 + 1) / 2 in whole numbers.
DialogBase DialogBaseOf(int32_t letters_width, int32_t cell_height);

// Main window: `units` horizontal or vertical units in pixels, rounded to the nearest pixel.
int32_t WindowPixelsX(DialogBase base, int32_t units);
int32_t WindowPixelsY(DialogBase base, int32_t units);

// Message box: `units` horizontal or vertical units in pixels, rounded up.
int32_t BoxPixelsX(DialogBase base, int32_t units);
int32_t BoxPixelsY(DialogBase base, int32_t units);

}  // namespace kb
