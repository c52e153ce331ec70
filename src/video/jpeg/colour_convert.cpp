#include "video/jpeg/colour_convert.h"

#include "video/jpeg/colour_convert_simd.h"

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
  // Counters instead of a division per pixel: each sample serves repeat pixels in a row.
  const uint8_t *y = row.y, *cb = row.cb, *cr = row.cr;
  int ny = row.yRepeat, nb = row.cbRepeat, nr = row.crRepeat;
  for (int x = 0; x < width; ++x, bgr += 3) {
    convertPixel(*y, *cb, *cr, bgr);
    if (--ny == 0) ny = row.yRepeat, ++y;
    if (--nb == 0) nb = row.cbRepeat, ++cb;
    if (--nr == 0) nr = row.crRepeat, ++cr;
  }
}

ConvertRowFn selectConvertRow(int chromaRepeat) {
#ifdef PV_JPEG_X86
  if (__builtin_cpu_supports("avx2") && (chromaRepeat == 1 || chromaRepeat == 2))
    return chromaRepeat == 1 ? convertRowAvx2Full : convertRowAvx2Half;
  if (__builtin_cpu_supports("ssse3") && (chromaRepeat == 1 || chromaRepeat == 2))
    return chromaRepeat == 1 ? convertRowSsse3Full : convertRowSsse3Half;
#else
  (void)chromaRepeat;
#endif
  return convertRowScalar;
}

void greyRow(const uint8_t* y, int repeat, uint8_t* bgr, int width) {
  for (int x = 0, n = repeat; x < width; ++x, bgr += 3) {
    bgr[0] = bgr[1] = bgr[2] = *y;
    if (--n == 0) n = repeat, ++y;
  }
}

}  // namespace jpeg
