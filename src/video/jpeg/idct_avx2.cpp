// The inverse DCT for processors with AVX2.
#include "video/jpeg/idct_simd.h"

#ifdef PV_JPEG_X86
#include <immintrin.h>

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

namespace jpeg {
namespace {

struct Avx2 {
  using V = __m256i;
  static V set(int32_t c) { return _mm256_set1_epi32(c); }
  static V add(V a, V b) { return _mm256_add_epi32(a, b); }
  static V sub(V a, V b) { return _mm256_sub_epi32(a, b); }
  static V mul(V a, int32_t c) { return _mm256_mullo_epi32(a, _mm256_set1_epi32(c)); }
  static V shl2(V a) { return _mm256_slli_epi32(a, 2); }
  static V sra13(V a) { return _mm256_srai_epi32(a, 13); }
  static V widen(__m128i a) { return _mm256_cvtepi16_epi32(a); }
  // a·ca + b·cb for 16-bit a and b.
  static V madd(__m128i a, __m128i b, int16_t ca, int16_t cb) {
    const __m256i pairs = _mm256_set_m128i(_mm_unpackhi_epi16(a, b), _mm_unpacklo_epi16(a, b));
    return _mm256_madd_epi16(pairs, _mm256_set1_epi32(int32_t(uint16_t(cb)) << 16 | uint16_t(ca)));
  }
  // The top 16 bits of each lane of a and b, as 8 × 16 bits each.
  static void high16(V a, V b, __m128i& outA, __m128i& outB) {
    const __m256i packed = _mm256_permute4x64_epi64(
        _mm256_packus_epi32(_mm256_srli_epi32(a, 16), _mm256_srli_epi32(b, 16)), 0xD8);
    outA = _mm256_castsi256_si128(packed);
    outB = _mm256_extracti128_si256(packed, 1);
  }
};

#include "video/jpeg/idct_x86_kernel.h"

}  // namespace

void inverseDctAvx2(int16_t* coefficients, uint8_t* out, int stride) {
  inverseDct<Avx2>(coefficients, out, stride);
}

}  // namespace jpeg

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#endif
