#include "monitor/tile_scaler.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <QPainter>

#include <algorithm>
#include <bit>
#include <cstring>

// The decoders' Bgrx32 bytes are QImage's 0xffRRGGBB words only on little-endian processors.
static_assert(std::endian::native == std::endian::little);

QImage letterboxedTile(QSize tile, QRect picture) {
  QImage image(tile, QImage::Format_RGB32);
  if (image.isNull()) return image;
  const QRgb black = qRgb(0, 0, 0);
  const QRect inside = picture.intersected(image.rect());
  for (int y = 0; y < image.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    if (y < inside.top() || y > inside.bottom() || inside.isEmpty()) {
      std::fill(row, row + image.width(), black);
      continue;
    }
    std::fill(row, row + inside.left(), black);
    std::fill(row + inside.right() + 1, row + image.width(), black);
  }
  return image;
}

void placeBgrxPicture(const uint8_t* pixels, int width, int height, int stride, QImage& tile,
                      QRect target) {
  target = target.intersected(tile.rect());
  if (pixels == nullptr || width <= 0 || height <= 0 || target.isEmpty()) return;
  const QImage source(pixels, width, height, stride, QImage::Format_RGB32);
  if (width == target.width() && height == target.height()) {
    for (int y = 0; y < height; ++y) {
      std::memcpy(tile.scanLine(target.top() + y) + target.left() * 4, source.constScanLine(y),
                  size_t(width) * 4);
    }
    return;
  }
  // Drawn straight into the tile with bilinear filtering: the picture was decoded at a scale
  // at most twice the rectangle's size, and this costs half of QImage::scaled's area averaging
  // (which also needs a picture of its own, copied afterwards).
  QPainter painter(&tile);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(target, source);
}

int tileScaleFlags() {
  return SWS_BILINEAR;
}

void CFrameScaler::ScalerDeleter::operator()(SwsContext* scaler) const {
  sws_freeContext(scaler);
}

CFrameScaler::CFrameScaler() = default;
CFrameScaler::~CFrameScaler() = default;

bool CFrameScaler::scale(const AVFrame& frame, QImage& tile, QRect target) {
  target = target.intersected(tile.rect());
  if (frame.width <= 0 || frame.height <= 0 || target.isEmpty()) return false;
  SwsContext* scaler = sws_getCachedContext(scaler_.release(), frame.width, frame.height,
                                            static_cast<AVPixelFormat>(frame.format),
                                            target.width(), target.height(), AV_PIX_FMT_RGB32,
                                            tileScaleFlags(), nullptr, nullptr, nullptr);
  scaler_.reset(scaler);
  if (scaler == nullptr) return false;
  uint8_t* planes[4] = {tile.scanLine(target.top()) + target.left() * 4, nullptr, nullptr, nullptr};
  int strides[4] = {int(tile.bytesPerLine()), 0, 0, 0};
  return sws_scale(scaler, frame.data, frame.linesize, 0, frame.height, planes, strides) ==
         target.height();
}
