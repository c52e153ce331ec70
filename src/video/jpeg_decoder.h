#pragma once
// The viewer's own baseline JPEG decoder: one image in memory to a BGR picture (3 bytes per
// pixel, rows top to bottom), integer arithmetic only. One decoder per frame.
#include <cstdint>
#include <memory>

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

  // Pictures of more pixels than this (after rounding to whole MCUs) are not decoded, whatever
  // their shape.
  static constexpr uint64_t kMaxPixels = uint64_t(8192) * 8192;
  // A lower limit, e.g. for fuzzing; never above kMaxPixels.
  void setPixelLimit(uint64_t maxPixels);

  // The picture's size, rounded up to whole MCUs; 0 before a frame header was read.
  uint16_t width() const;
  uint16_t height() const;
  // The BGR picture (width × height × 3 bytes), or null when no scan was decoded.
  const uint8_t* picture() const;

 private:
  struct State;
  uint8_t* data_ = nullptr;
  std::unique_ptr<State> state_;
};
