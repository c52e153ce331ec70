#include "monitor/tile_jpeg_decoder.h"

#include "monitor/tile_geometry.h"
#include "monitor/tile_scaler.h"
#include "recording/frame_inspect.h"

bool CTileJpegDecoder::decode(uint8_t* frame, uint32_t length, QSize tile) {
  if (frame == nullptr || length <= recording::kFrameHeaderSize) return false;
  uint8_t* image = frame + recording::kFrameHeaderSize;
  const uint32_t imageLength = length - recording::kFrameHeaderSize;

  // The size from the frame header picks the scale; without one the picture is decoded whole.
  QSize source;
  if (const auto start = recording::findJpegStart(image, imageLength)) {
    if (const auto size = recording::jpegPictureSize(image + *start, imageLength - *start))
      source = QSize(size->width, size->height);
  }
  denominator_ = jpegScaleDenominator(source, letterboxRect(source, tile).size());
  decoder_.setData(image);
  if (!decoder_.decodeScaled(imageLength, denominator_, CJpegDecoder::PixelFormat::Bgrx32))
    return false;
  if (decoder_.scaledWidth() == 0 || decoder_.scaledHeight() == 0) return false;
  sourceSize_ = source.isEmpty() ? decodedSize() : source;
  return true;
}

QSize CTileJpegDecoder::decodedSize() const {
  return QSize(decoder_.scaledWidth(), decoder_.scaledHeight());
}

void CTileJpegDecoder::placeInto(QImage& tile, QRect target) const {
  placeBgrxPicture(decoder_.scaledPicture(), decoder_.scaledWidth(), decoder_.scaledHeight(),
                   decoder_.scaledWidth() * 4, tile, target);
}
