// YCbCr to BGR for processors with AVX2: the SSSE3 variant's arithmetic (see there) on 16
// pixels per register, then the same byte interleave, for two such groups at once.
#include "video/jpeg/colour_convert_simd.h"

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

// Blue, green and red of 16 pixels from x on, as 16-bit lanes.
template <int kChromaRepeat>
__attribute__((always_inline)) inline void convert16(const ColourRow& row, int x, __m256i& b16,
                                                     __m256i& g16, __m256i& r16) {
  const __m256i bias = _mm256_set1_epi16(128), kb = _mm256_set1_epi16(-14943),
                kr = _mm256_set1_epi16(26345),
                kg = _mm256_set1_epi32(int32_t(uint32_t(18735) << 16 | uint16_t(-22553)));
  const __m256i y =
      _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row.y + x)));
  __m128i cb8, cr8;
  if (kChromaRepeat == 2) {
    cb8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row.cb + x / 2));
    cr8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row.cr + x / 2));
    cb8 = _mm_unpacklo_epi8(cb8, cb8);
    cr8 = _mm_unpacklo_epi8(cr8, cr8);
  } else {
    cb8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row.cb + x));
    cr8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row.cr + x));
  }
  const __m256i db = _mm256_sub_epi16(_mm256_cvtepu8_epi16(cb8), bias);
  const __m256i dr = _mm256_sub_epi16(_mm256_cvtepu8_epi16(cr8), bias);
  b16 = _mm256_add_epi16(_mm256_add_epi16(y, _mm256_add_epi16(db, db)), _mm256_mulhi_epi16(db, kb));
  r16 = _mm256_add_epi16(_mm256_add_epi16(y, dr), _mm256_mulhi_epi16(dr, kr));
  const __m256i lo = _mm256_srai_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(db, dr), kg), 16);
  const __m256i hi = _mm256_srai_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(db, dr), kg), 16);
  g16 = _mm256_add_epi16(_mm256_sub_epi16(y, dr), _mm256_packs_epi32(lo, hi));
}

template <int kChromaRepeat>
void convertRow(const ColourRow& row, uint8_t* bgr, int width) {
  // The masks for one chunk, in both halves of a register.
  __m256i masks[3][3];
  for (int ch = 0; ch < 3; ++ch)
    for (int chunk = 0; chunk < 3; ++chunk)
      masks[ch][chunk] = _mm256_broadcastsi128_si256(_mm_loadu_si128(
          reinterpret_cast<const __m128i*>(kInterleaveMasks[size_t(ch)][size_t(chunk)].data())));
  int x = 0;
  // 32 pixels at a time: the first 16 in the low half of each register, the next 16 in the high
  // half, so that one in-lane interleave serves both.
  for (; x + 32 <= width; x += 32, bgr += 96) {
    __m256i b0, g0, r0, b1, g1, r1;
    convert16<kChromaRepeat>(row, x, b0, g0, r0);
    convert16<kChromaRepeat>(row, x + 16, b1, g1, r1);
    // Clamp to bytes: [0-7 of the first | 0-7 of the second | 8-15 | 8-15] reordered to
    // [first 16 | second 16].
    const __m256i b = _mm256_permute4x64_epi64(_mm256_packus_epi16(b0, b1), 0xD8);
    const __m256i g = _mm256_permute4x64_epi64(_mm256_packus_epi16(g0, g1), 0xD8);
    const __m256i r = _mm256_permute4x64_epi64(_mm256_packus_epi16(r0, r1), 0xD8);
    for (int chunk = 0; chunk < 3; ++chunk) {
      const __m256i out = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(b, masks[0][chunk]),
                                                          _mm256_shuffle_epi8(g, masks[1][chunk])),
                                          _mm256_shuffle_epi8(r, masks[2][chunk]));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(bgr + 16 * chunk), _mm256_castsi256_si128(out));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(bgr + 48 + 16 * chunk),
                       _mm256_extracti128_si256(out, 1));
    }
  }
  for (; x + 16 <= width; x += 16, bgr += 48) {
    __m256i b16, g16, r16;
    convert16<kChromaRepeat>(row, x, b16, g16, r16);
    // Clamp to bytes: [B0-7 G0-7 | B8-15 G8-15] reordered to [B0-15 | G0-15].
    const __m256i bg = _mm256_permute4x64_epi64(_mm256_packus_epi16(b16, g16), 0xD8);
    const __m256i rr = _mm256_permute4x64_epi64(_mm256_packus_epi16(r16, r16), 0xD8);
    const __m128i b = _mm256_castsi256_si128(bg), g = _mm256_extracti128_si256(bg, 1),
                  r = _mm256_castsi256_si128(rr);
    for (int chunk = 0; chunk < 3; ++chunk) {
      const __m128i out =
          _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(b, _mm256_castsi256_si128(masks[0][chunk])),
                                    _mm_shuffle_epi8(g, _mm256_castsi256_si128(masks[1][chunk]))),
                       _mm_shuffle_epi8(r, _mm256_castsi256_si128(masks[2][chunk])));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(bgr + 16 * chunk), out);
    }
  }
  for (; x < width; ++x, bgr += 3)
    convertPixel(row.y[x], row.cb[x / kChromaRepeat], row.cr[x / kChromaRepeat], bgr);
}

}  // namespace

void convertRowAvx2Full(const ColourRow& row, uint8_t* bgr, int width) {
  convertRow<1>(row, bgr, width);
}
void convertRowAvx2Half(const ColourRow& row, uint8_t* bgr, int width) {
  convertRow<2>(row, bgr, width);
}

}  // namespace jpeg

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#endif
