// The YCbCr row conversion for processors with AVX2, 16 pixels at a time, exact: each product
// with a constant beyond 16 bits is split into a multiple of 65536, which passes the shift
// whole, and a 16-bit rest taken with pmaddwd, the rounding term riding in the same pmaddwd.
#include "video/jpeg/true_colour_simd.h"

#ifdef PV_JPEG_X86
#include <immintrin.h>

#include "video/jpeg/interleave_masks.h"

#include <array>

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

namespace jpeg {
namespace {

// (a·x + b) >> 16 for 16-bit x, with a and b given as the pmaddwd pair (a, b / 2) over (x, 2).
__attribute__((always_inline)) inline __m256i mulShift(__m256i x, __m256i pair) {
  const __m256i two = _mm256_set1_epi16(2);
  const __m256i lo = _mm256_srai_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(x, two), pair), 16);
  const __m256i hi = _mm256_srai_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(x, two), pair), 16);
  return _mm256_packs_epi32(lo, hi);
}

__attribute__((always_inline)) inline __m256i pairOf(int16_t a, int16_t b) {
  return _mm256_set1_epi32(int32_t(uint32_t(uint16_t(b)) << 16 | uint16_t(a)));
}

// Red, green and blue of 16 pixels from x on, as 16-bit lanes, not yet clamped.
__attribute__((always_inline)) inline void convert16(const uint8_t* y, const uint8_t* cb,
                                                     const uint8_t* cr, int x, __m256i& r16,
                                                     __m256i& g16, __m256i& b16) {
  const __m256i bias = _mm256_set1_epi16(128);
  const __m256i l = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x)));
  const __m256i db = _mm256_sub_epi16(
      _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cb + x))), bias);
  const __m256i dr = _mm256_sub_epi16(
      _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cr + x))), bias);
  // 91881 = 65536 + 26345; 116130 = 2·65536 − 14942; −46802 = −65536 + 18734.
  r16 = _mm256_add_epi16(_mm256_add_epi16(l, dr), mulShift(dr, pairOf(26345, 16384)));
  b16 = _mm256_add_epi16(_mm256_add_epi16(l, _mm256_add_epi16(db, db)),
                         mulShift(db, pairOf(-14942, 16384)));
  const __m256i k = pairOf(-22554, 18734), half = _mm256_set1_epi32(32768);
  const __m256i lo = _mm256_srai_epi32(
      _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(db, dr), k), half), 16);
  const __m256i hi = _mm256_srai_epi32(
      _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(db, dr), k), half), 16);
  g16 = _mm256_add_epi16(_mm256_sub_epi16(l, dr), _mm256_packs_epi32(lo, hi));
}

__attribute__((always_inline)) inline __m256i clamp16(__m256i v) {
  return _mm256_min_epi16(_mm256_max_epi16(v, _mm256_setzero_si256()), _mm256_set1_epi16(255));
}

}  // namespace

void convertRowYccAvx2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, PixelFormat format,
                       uint8_t* out, int width) {
  int x = 0;
  if (format == PixelFormat::Bgrx32) {
    const __m256i alpha = _mm256_set1_epi16(int16_t(0xFF00));
    for (; x + 16 <= width; x += 16, out += 64) {
      __m256i r16, g16, b16;
      convert16(y, cb, cr, x, r16, g16, b16);
      const __m256i bg = _mm256_or_si256(clamp16(b16), _mm256_slli_epi16(clamp16(g16), 8));
      const __m256i ra = _mm256_or_si256(clamp16(r16), alpha);
      const __m256i lo = _mm256_unpacklo_epi16(bg, ra), hi = _mm256_unpackhi_epi16(bg, ra);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permute2x128_si256(lo, hi, 0x20));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32),
                          _mm256_permute2x128_si256(lo, hi, 0x31));
    }
  } else {
    __m128i masks[3][3];
    for (int ch = 0; ch < 3; ++ch)
      for (int chunk = 0; chunk < 3; ++chunk)
        masks[ch][chunk] = _mm_loadu_si128(
            reinterpret_cast<const __m128i*>(kInterleaveMasks[size_t(ch)][size_t(chunk)].data()));
    for (; x + 16 <= width; x += 16, out += 48) {
      __m256i r16, g16, b16;
      convert16(y, cb, cr, x, r16, g16, b16);
      // [R0-7 G0-7 | R8-15 G8-15] reordered to [R0-15 | G0-15].
      const __m256i rg = _mm256_permute4x64_epi64(_mm256_packus_epi16(r16, g16), 0xD8);
      const __m256i bb = _mm256_permute4x64_epi64(_mm256_packus_epi16(b16, b16), 0xD8);
      const __m128i r = _mm256_castsi256_si128(rg), g = _mm256_extracti128_si256(rg, 1),
                    b = _mm256_castsi256_si128(bb);
      for (int chunk = 0; chunk < 3; ++chunk) {
        const __m128i bytes = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(r, masks[0][chunk]),
                                                        _mm_shuffle_epi8(g, masks[1][chunk])),
                                           _mm_shuffle_epi8(b, masks[2][chunk]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * chunk), bytes);
      }
    }
  }
  if (x < width) convertRowYccScalar(y + x, cb + x, cr + x, format, out, width - x);
}

}  // namespace jpeg

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#endif
