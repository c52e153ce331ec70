#pragma once
// The fallback decoder of the RTP/JPEG fit-up for frames the 8-bit libjpeg cannot read (12-bit
// samples): FFmpeg's JPEG decoder, then one area scale to RGB within the side limit.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rtpjpeg {

struct RgbPicture {
  std::vector<uint8_t> pixels;  // 3 bytes a pixel, rows packed
  int width = 0, height = 0;
};

// Decodes one JPEG image of at most maxPixels pixels and scales it so that neither side is over
// maxSide (the aspect kept). False with the reason in *error.
bool decodeWithFfmpeg(const uint8_t* data, size_t size, int64_t maxPixels, int maxSide,
                      RgbPicture* out, std::string* error);

// The size within maxSide a width x height picture is scaled to, the aspect kept.
void fitWithin(int maxSide, int width, int height, int* fittedWidth, int* fittedHeight);

}  // namespace rtpjpeg
