#pragma once
// Component planes to a true-colour picture: each chroma plane brought to the picture's size,
// then YCbCr to RGB with the common decoders' rounded conversion
//   red   = y + round(1.40200·(Cr−128))
//   green = y + ((−22554·(Cb−128) − 46802·(Cr−128) + 32768) >> 16)
//   blue  = y + round(1.77200·(Cb−128))
// clamped to 0..255. Smooth upsampling takes, for a plane at half the width (and height), 3/4 of
// the nearer sample and 1/4 of the next one, with the usual alternating rounding; other ratios,
// and every plane when smooth is off, repeat samples.
#include <cstdint>

namespace jpeg {

enum class PixelFormat {
  Bgrx32,  // blue, green, red, 255: a 32-bit 0xFFRRGGBB word on little-endian processors
  Rgb24,   // red, green, blue
};

inline int bytesPerPixel(PixelFormat format) {
  return format == PixelFormat::Bgrx32 ? 4 : 3;
}

struct SamplePlane {
  const uint8_t* samples;
  int stride;
  int width, height;   // the samples that belong to the picture (edges repeat the last ones)
  int hRatio, vRatio;  // picture pixels per sample across and down (1 or more)
};

// planes: 3 (Y, Cb, Cr) or 1 (grey). out: height rows of width pixels, outStride bytes apart.
void convertPlanes(const SamplePlane* planes, int count, bool smooth, PixelFormat format,
                   uint8_t* out, int outStride, int width, int height);

}  // namespace jpeg
