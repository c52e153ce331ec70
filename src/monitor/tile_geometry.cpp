#include "monitor/tile_geometry.h"

#include <algorithm>
#include <cstdint>

QRect letterboxRect(QSize source, QSize tile) {
  if (source.isEmpty() || tile.isEmpty()) return {};
  const int64_t sw = source.width(), sh = source.height();
  const int64_t tw = tile.width(), th = tile.height();
  int64_t w = tw, h = th;
  // Rounded to the nearest pixel; a sliver of a picture still gets one.
  if (sw * th > sh * tw) {
    h = std::clamp<int64_t>((sh * tw * 2 + sw) / (sw * 2), 1, th);
  } else {
    w = std::clamp<int64_t>((sw * th * 2 + sh) / (sh * 2), 1, tw);
  }
  return QRect(int((tw - w) / 2), int((th - h) / 2), int(w), int(h));
}

int jpegScaleDenominator(QSize source, QSize target) {
  if (source.isEmpty() || target.isEmpty()) return 1;
  for (int d : {8, 4, 2}) {
    const int w = (source.width() + d - 1) / d, h = (source.height() + d - 1) / d;
    if (w >= target.width() && h >= target.height()) return d;
  }
  return 1;
}
