// YCbCr to BGR for processors with SSSE3, 16 pixels at a time, in 16-bit lanes. The 32-bit
// formulas are split so that each product fits pmulhw or pmaddwd exactly:
//   (116129·d) >> 16 = 2d + ((−14943·d) >> 16)
//   (91881·d) >> 16 = d + ((26345·d) >> 16)
//   (−22553·db − 46801·dr) >> 16 = −dr + ((−22553·db + 18735·dr) >> 16)
// (Y·65536 is a multiple of 65536, so it comes out of the shift unchanged.)
#include "video/jpeg/colour_convert_simd.h"

#ifdef PV_JPEG_X86
#include <immintrin.h>

#include "video/jpeg/interleave_masks.h"

#include <array>

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("ssse3"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("ssse3")
#endif

namespace jpeg {
namespace {

inline __m128i mask(int ch, int chunk) {
  return _mm_loadu_si128(
      reinterpret_cast<const __m128i*>(kInterleaveMasks[size_t(ch)][size_t(chunk)].data()));
}

// Eight pixels: Y and chroma differences as 16-bit lanes; returns blue, green, red (16 bits).
inline void convert8(__m128i y, __m128i db, __m128i dr, __m128i& b, __m128i& g, __m128i& r) {
  b = _mm_add_epi16(_mm_add_epi16(y, _mm_add_epi16(db, db)),
                    _mm_mulhi_epi16(db, _mm_set1_epi16(-14943)));
  r = _mm_add_epi16(_mm_add_epi16(y, dr), _mm_mulhi_epi16(dr, _mm_set1_epi16(26345)));
  const __m128i k = _mm_set1_epi32(int32_t(uint32_t(18735) << 16 | uint16_t(-22553)));
  const __m128i lo = _mm_srai_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(db, dr), k), 16);
  const __m128i hi = _mm_srai_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(db, dr), k), 16);
  g = _mm_add_epi16(_mm_sub_epi16(y, dr), _mm_packs_epi32(lo, hi));
}

template <int kChromaRepeat>
void convertRow(const ColourRow& row, uint8_t* bgr, int width) {
  const __m128i zero = _mm_setzero_si128(), bias = _mm_set1_epi16(128);
  int x = 0;
  for (; x + 16 <= width; x += 16, bgr += 48) {
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row.y + x));
    __m128i cb, cr;
    if (kChromaRepeat == 2) {
      cb = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row.cb + x / 2));
      cr = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row.cr + x / 2));
      cb = _mm_unpacklo_epi8(cb, cb);
      cr = _mm_unpacklo_epi8(cr, cr);
    } else {
      cb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row.cb + x));
      cr = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row.cr + x));
    }
    __m128i b0, g0, r0, b1, g1, r1;
    convert8(_mm_unpacklo_epi8(y, zero), _mm_sub_epi16(_mm_unpacklo_epi8(cb, zero), bias),
             _mm_sub_epi16(_mm_unpacklo_epi8(cr, zero), bias), b0, g0, r0);
    convert8(_mm_unpackhi_epi8(y, zero), _mm_sub_epi16(_mm_unpackhi_epi8(cb, zero), bias),
             _mm_sub_epi16(_mm_unpackhi_epi8(cr, zero), bias), b1, g1, r1);
    const __m128i b = _mm_packus_epi16(b0, b1), g = _mm_packus_epi16(g0, g1),
                  r = _mm_packus_epi16(r0, r1);
    for (int chunk = 0; chunk < 3; ++chunk) {
      const __m128i out = _mm_or_si128(
          _mm_or_si128(_mm_shuffle_epi8(b, mask(0, chunk)), _mm_shuffle_epi8(g, mask(1, chunk))),
          _mm_shuffle_epi8(r, mask(2, chunk)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(bgr + 16 * chunk), out);
    }
  }
  for (; x < width; ++x, bgr += 3)
    convertPixel(row.y[x], row.cb[x / kChromaRepeat], row.cr[x / kChromaRepeat], bgr);
}

}  // namespace

void convertRowSsse3Full(const ColourRow& row, uint8_t* bgr, int width) {
  convertRow<1>(row, bgr, width);
}
void convertRowSsse3Half(const ColourRow& row, uint8_t* bgr, int width) {
  convertRow<2>(row, bgr, width);
}

}  // namespace jpeg

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#endif
