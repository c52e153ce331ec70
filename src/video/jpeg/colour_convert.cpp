#include "video/jpeg/colour_convert.h"

namespace jpeg {
namespace {

uint8_t clampByte(int32_t v) {
  return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

}  // namespace

void convertPixel(int y, int cb, int cr, uint8_t* bgr) {
  const int32_t db = cb - 128, dr = cr - 128;
  bgr[0] = clampByte((y * 65536 + 116129 * db) >> 16);
  bgr[1] = clampByte((y * 65536 - 22553 * db - 46801 * dr) >> 16);
  bgr[2] = clampByte((y * 65536 + 91881 * dr) >> 16);
}

void convertRowScalar(const ColourRow& row, uint8_t* bgr, int width) {
  for (int x = 0; x < width; ++x)
    convertPixel(row.y[x / row.yRepeat], row.cb[x / row.cbRepeat], row.cr[x / row.crRepeat],
                 bgr + 3 * x);
}

ConvertRowFn selectConvertRow(int) {
  return convertRowScalar;
}

void greyRow(const uint8_t* y, int repeat, uint8_t* bgr, int width) {
  for (int x = 0; x < width; ++x) bgr[3 * x] = bgr[3 * x + 1] = bgr[3 * x + 2] = y[x / repeat];
}

}  // namespace jpeg
