#pragma once
// A picture of 3 bytes per pixel in red, green, blue order, rows top to bottom.
#include <cstdint>
#include <vector>

namespace dvremu {

struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;

  void resize(int w, int h) {
    width = w;
    height = h;
    pixels.assign(static_cast<size_t>(w) * static_cast<size_t>(h) * 3, 0);
  }
  uint8_t* at(int x, int y) { return pixels.data() + (static_cast<size_t>(y) * width + x) * 3; }
  const uint8_t* at(int x, int y) const {
    return pixels.data() + (static_cast<size_t>(y) * width + x) * 3;
  }
};

// Nearest-neighbour scaling into out's size.
void scaleNearest(const RgbImage& in, RgbImage& out);

}  // namespace dvremu
