#pragma once
// The viewer's own baseline JPEG decoder: one image in memory to a BGR picture (3 bytes per
// pixel, rows top to bottom), integer arithmetic only. One decoder per frame.
//
// Beside it, decodeScaled: the same image in true colour at 1/1, 1/2, 1/4 or 1/8 of its size,
// each 8 × 8 block transformed straight to 8, 4, 2 or 1 samples a side and the colours converted
// at the reduced size, for pictures shown smaller than they were sent. It matches the common
// decoders' scaled output (their reduced transforms, smooth chroma upsampling except at 1/8,
// rounded colour conversion); a decoder can be reused for any number of such frames.
#include <cstdint>
#include <memory>

#include "video/jpeg/true_colour.h"

class CJpegDecoder {
 public:
  CJpegDecoder();
  virtual ~CJpegDecoder();
  CJpegDecoder(const CJpegDecoder&) = delete;
  CJpegDecoder& operator=(const CJpegDecoder&) = delete;

  // The JPEG data, not owned. It must hold at least 3 writable bytes after the length given to
  // decode: the alignment step moves the end-of-image marker to a multiple of 4 bytes.
  void setData(uint8_t* data) { data_ = data; }

  // Decodes length bytes of data. True when a picture was produced (possibly partly decoded
  // after damaged entropy data); false when there is none.
  bool decode(uint32_t length);

  // Decodes length bytes of data at 1/denominator of the full size (denominator 1, 2, 4 or 8)
  // into a picture of ceil(width / denominator) × ceil(height / denominator) pixels of the
  // frame's own size (not rounded to MCUs), rows packed. Same data contract and pixel limit as
  // decode; nothing of an earlier frame is used. True when a picture was produced.
  using PixelFormat = jpeg::PixelFormat;
  bool decodeScaled(uint32_t length, int denominator, PixelFormat format);
  uint16_t scaledWidth() const;
  uint16_t scaledHeight() const;
  // scaledWidth × scaledHeight pixels of bytesPerPixel(format) bytes, or null.
  const uint8_t* scaledPicture() const;

  // Pictures of more pixels than this (after rounding to whole MCUs) are not decoded, whatever
  // their shape.
  static constexpr uint64_t kMaxPixels = uint64_t(8192) * 8192;
  // A lower limit, e.g. for fuzzing; never above kMaxPixels.
  void setPixelLimit(uint64_t maxPixels);

  // The picture's size, rounded up to whole MCUs (once there is a picture, always its own size,
  // whatever a later frame header says); 0 before a frame header was read.
  uint16_t width() const;
  uint16_t height() const;
  // The BGR picture (width × height × 3 bytes), or null when no scan was decoded.
  const uint8_t* picture() const;

 private:
  struct State;
  struct Scaled;
  uint8_t* data_ = nullptr;
  std::unique_ptr<State> state_;
  std::unique_ptr<Scaled> scaled_;  // buffers of decodeScaled, kept for the next frame
};
