#pragma once
// One channel's JPEG decoding for its tile: the viewer's own decoder, reused frame after frame,
// at the smallest reduced scale whose picture still covers the tile's picture rectangle.
// Used by one thread at a time.
#include <QImage>
#include <QRect>
#include <QSize>

#include <algorithm>
#include <cstdint>

#include "video/jpeg_decoder.h"

class CTileJpegDecoder {
 public:
  // Writable bytes the caller keeps after every frame (the decoder's alignment step).
  static constexpr uint32_t kInputPadding = 4;
  // Pictures larger than this (after rounding to whole blocks) are not decoded: a damaged frame
  // header must not make a tile allocate for a gigantic picture.
  static constexpr uint64_t kMaxPixels = uint64_t(4096) * 2304;

  CTileJpegDecoder() { decoder_.setPixelLimit(kMaxPixels); }
  // A lower limit, e.g. for fuzzing; never above kMaxPixels.
  void setPixelLimit(uint64_t maxPixels) {
    decoder_.setPixelLimit(std::min(maxPixels, kMaxPixels));
  }

  // Decodes one JPEG frame (FrameHeader first; the bytes are changed) for a tile of size tile.
  // False when there is no picture.
  bool decode(uint8_t* frame, uint32_t length, QSize tile);

  // Of the last picture decoded.
  QSize sourceSize() const { return sourceSize_; }
  int denominator() const { return denominator_; }
  QSize decodedSize() const;
  // Copies or scales the last picture into target of tile.
  void placeInto(QImage& tile, QRect target) const;

 private:
  CJpegDecoder decoder_;
  QSize sourceSize_;
  int denominator_ = 1;
};
