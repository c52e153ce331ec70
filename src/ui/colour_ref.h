#pragma once
// Colours as the skin controls store them: 0x00BBGGRR (red in the low byte), -1 for "unset".
#include <QColor>

#include <cstdint>

using ColourRef = int32_t;

inline constexpr ColourRef kUnsetColour = -1;

constexpr ColourRef rgbColour(int red, int green, int blue) {
  return static_cast<ColourRef>((red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16));
}

inline QColor toQColor(ColourRef colour) {
  return QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}
