#pragma once
// Dialog layouts are given in dialog units. They are converted at one fixed scale, 7/4 pixel per
// unit in both directions (the cell of an 8-point font, 7 x 14 pixels, is 4 x 8 units), whatever
// font the desktop uses, so every dialog keeps the proportions of its layout.
#include <QRect>

namespace dialogunits {

inline constexpr int kPixelsPerFourUnits = 7;

// Rounded to the nearest pixel.
constexpr int toPixels(int units) {
  return (units * kPixelsPerFourUnits + 2) / 4;
}

// Converts both edges, so adjacent controls stay adjacent after rounding.
inline QRect toPixels(int x, int y, int width, int height) {
  const int left = toPixels(x);
  const int top = toPixels(y);
  return QRect(left, top, toPixels(x + width) - left, toPixels(y + height) - top);
}

}  // namespace dialogunits
