#pragma once
// The display's pixel format: 5 bits of red, 6 of green, 5 of blue, red in the top bits.
#include <cstdint>

constexpr uint16_t rgb565(uint8_t blue, uint8_t green, uint8_t red) {
  return static_cast<uint16_t>((red >> 3) << 11 | (green >> 2) << 5 | (blue >> 3));
}

// From a pixel stored as blue, green, red bytes.
inline uint16_t rgb565(const uint8_t* bgr) {
  return rgb565(bgr[0], bgr[1], bgr[2]);
}
