#pragma once
// A small 5 x 7 pixel font for the camera overlays (digits, a few capitals and signs).
#include <cstdint>
#include <string_view>

#include "rgb_image.h"

namespace dvremu {

// Draws text with each font pixel as a scale x scale block; characters the font lacks are blank.
void drawText(RgbImage& image, int x, int y, std::string_view text, int scale,
              const uint8_t rgb[3]);
int textWidth(std::string_view text, int scale);
void fillRect(RgbImage& image, int x, int y, int w, int h, const uint8_t rgb[3]);

}  // namespace dvremu
