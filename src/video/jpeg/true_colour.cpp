#include "video/jpeg/true_colour.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "video/jpeg/true_colour_simd.h"

namespace jpeg {
namespace {

// The conversion's terms by sample value, with the rounding folded in.
struct Tables {
  int32_t crR[256], cbB[256], crG[256], cbG[256];
};
constexpr Tables makeTables() {
  Tables t{};
  for (int i = 0; i < 256; ++i) {
    const int32_t x = i - 128;
    t.crR[i] = (91881 * x + 32768) >> 16;
    t.cbB[i] = (116130 * x + 32768) >> 16;
    t.crG[i] = -46802 * x;
    t.cbG[i] = -22554 * x + 32768;
  }
  return t;
}
constexpr Tables kTables = makeTables();

uint8_t clampByte(int32_t v) {
  return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

void store(PixelFormat format, uint8_t* p, uint8_t r, uint8_t g, uint8_t b) {
  if (format == PixelFormat::Bgrx32) {
    const uint32_t word = uint32_t(b) | uint32_t(g) << 8 | uint32_t(r) << 16 | 0xFF000000u;
    std::memcpy(p, &word, 4);
  } else {
    p[0] = r, p[1] = g, p[2] = b;
  }
}

// Half width: 3/4 of the nearer sample and 1/4 of the next, rounding alternately down and up;
// the first and last output repeat the edge samples. in: n > 2 samples; out: 2n.
void smoothH2V1(const uint8_t* in, int n, uint8_t* out) {
  out[0] = in[0];
  out[1] = uint8_t((in[0] * 3 + in[1] + 2) >> 2);
  for (int i = 1; i < n - 1; ++i) {
    const int near = in[i] * 3;
    out[2 * i] = uint8_t((near + in[i - 1] + 1) >> 2);
    out[2 * i + 1] = uint8_t((near + in[i + 1] + 2) >> 2);
  }
  out[2 * n - 2] = uint8_t((in[n - 1] * 3 + in[n - 2] + 1) >> 2);
  out[2 * n - 1] = in[n - 1];
}

// Half width and height: the same weights down (the nearer row 3/4, the other row 1/4), then
// across. n > 2.
void smoothH2V2(const uint8_t* near, const uint8_t* far, int n, uint8_t* out) {
  int last = near[0] * 3 + far[0];
  int current = last;
  for (int i = 0; i < n; ++i) {
    const int next = i + 1 < n ? near[i + 1] * 3 + far[i + 1] : current;
    if (i == 0) {
      out[0] = uint8_t((current * 4 + 8) >> 4);
    } else {
      out[2 * i] = uint8_t((current * 3 + last + 8) >> 4);
    }
    if (i == n - 1)
      out[2 * i + 1] = uint8_t((current * 4 + 7) >> 4);
    else
      out[2 * i + 1] = uint8_t((current * 3 + next + 7) >> 4);
    last = current;
    current = next;
  }
}

// Half height only: the nearer row 3/4, the other 1/4, rounding down above and up below.
void smoothH1V2(const uint8_t* near, const uint8_t* far, int n, bool lowerHalf, uint8_t* out) {
  const int bias = lowerHalf ? 2 : 1;
  for (int i = 0; i < n; ++i) out[i] = uint8_t((near[i] * 3 + far[i] + bias) >> 2);
}

void repeatSamples(const uint8_t* in, int ratio, int width, uint8_t* out) {
  for (int x = 0, n = ratio; x < width; ++x) {
    out[x] = *in;
    if (--n == 0) n = ratio, ++in;
  }
}

// The plane's samples for picture row y, at the picture's width.
const uint8_t* planeRow(const SamplePlane& p, int y, bool smooth, int width, uint8_t* scratch) {
  auto row = [&p](int r) { return p.samples + size_t(r) * size_t(p.stride); };
  if (p.hRatio == 1 && p.vRatio == 1) return row(y);
  if (smooth && p.hRatio == 2 && p.vRatio == 1 && p.width > 2) {
    smoothH2V1(row(y), p.width, scratch);
    return scratch;
  }
  if (smooth && p.vRatio == 2 && (p.hRatio == 1 || (p.hRatio == 2 && p.width > 2))) {
    const int r = y / 2;
    const bool lower = (y & 1) != 0;
    const int other = lower ? std::min(r + 1, p.height - 1) : std::max(r - 1, 0);
    if (p.hRatio == 2)
      smoothH2V2(row(r), row(other), p.width, scratch);
    else
      smoothH1V2(row(r), row(other), p.width, lower, scratch);
    return scratch;
  }
  repeatSamples(row(y / p.vRatio), p.hRatio, width, scratch);
  return scratch;
}

}  // namespace

void convertRowYccScalar(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, PixelFormat format,
                         uint8_t* out, int width) {
  const int bpp = bytesPerPixel(format);
  for (int x = 0; x < width; ++x, out += bpp) {
    const int32_t l = y[x];
    store(format, out, clampByte(l + kTables.crR[cr[x]]),
          clampByte(l + ((kTables.cbG[cb[x]] + kTables.crG[cr[x]]) >> 16)),
          clampByte(l + kTables.cbB[cb[x]]));
  }
}

ConvertYccRowFn selectConvertYccRow() {
#ifdef PV_JPEG_X86
  if (__builtin_cpu_supports("avx2")) return convertRowYccAvx2;
#endif
  return convertRowYccScalar;
}

void convertPlanes(const SamplePlane* planes, int count, bool smooth, PixelFormat format,
                   uint8_t* out, int outStride, int width, int height) {
  if (width <= 0 || height <= 0) return;
  std::vector<uint8_t> scratch[3];
  for (int k = 0; k < count; ++k)
    scratch[k].resize(size_t(std::max(width, planes[k].hRatio * planes[k].width)) + 32);
  const ConvertYccRowFn convertRow = selectConvertYccRow();
  const int bpp = bytesPerPixel(format);
  for (int y = 0; y < height; ++y, out += outStride) {
    const uint8_t* l = planeRow(planes[0], y, smooth, width, scratch[0].data());
    if (count == 3) {
      convertRow(l, planeRow(planes[1], y, smooth, width, scratch[1].data()),
                 planeRow(planes[2], y, smooth, width, scratch[2].data()), format, out, width);
    } else {
      for (int x = 0; x < width; ++x) store(format, out + x * bpp, l[x], l[x], l[x]);
    }
  }
}

}  // namespace jpeg
