#pragma once
// Running CJpegDecoder and the reference decoder on private copies of the same bytes.
#include <cstdint>
#include <vector>

#include "reference_jpeg_decoder.h"
#include "video/jpeg_decoder.h"

namespace jpegtest {

// The decoders work in place and may write 3 bytes past the length: give each its own copy.
inline std::vector<uint8_t> withSlack(const std::vector<uint8_t>& jpeg) {
  std::vector<uint8_t> copy(jpeg);
  copy.resize(jpeg.size() + 16, 0);
  return copy;
}

struct Outcome {
  bool decoded = false;
  uint16_t width = 0, height = 0;
  std::vector<uint8_t> picture;
};

inline Outcome decodeFast(const std::vector<uint8_t>& jpeg,
                          uint64_t pixelLimit = CJpegDecoder::kMaxPixels) {
  std::vector<uint8_t> buffer = withSlack(jpeg);
  CJpegDecoder decoder;
  decoder.setPixelLimit(pixelLimit);
  decoder.setData(buffer.data());
  Outcome out;
  out.decoded = decoder.decode(uint32_t(jpeg.size()));
  out.width = decoder.width();
  out.height = decoder.height();
  if (decoder.picture() != nullptr)
    out.picture.assign(decoder.picture(),
                       decoder.picture() + size_t(decoder.width()) * decoder.height() * 3);
  return out;
}

inline Outcome decodeReference(const std::vector<uint8_t>& jpeg,
                               uint64_t pixelLimit = CJpegDecoder::kMaxPixels) {
  std::vector<uint8_t> buffer = withSlack(jpeg);
  ReferenceJpegDecoder decoder;
  decoder.setPixelLimit(pixelLimit);
  Outcome out;
  out.decoded = decoder.decode(buffer.data(), uint32_t(jpeg.size()));
  out.width = decoder.width();
  out.height = decoder.height();
  if (decoder.hasPicture()) out.picture = decoder.picture();
  return out;
}

}  // namespace jpegtest
