// The inverse DCT for processors with SSE4.1.
#include "video/jpeg/idct_simd.h"

#ifdef PV_JPEG_X86
#include <immintrin.h>

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("sse4.1"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("sse4.1")
#endif

namespace jpeg {
namespace {

// Eight 32-bit lanes in two registers.
struct Sse41 {
  struct V {
    __m128i lo, hi;
  };
  static V set(int32_t c) { return {_mm_set1_epi32(c), _mm_set1_epi32(c)}; }
  static V add(V a, V b) { return {_mm_add_epi32(a.lo, b.lo), _mm_add_epi32(a.hi, b.hi)}; }
  static V sub(V a, V b) { return {_mm_sub_epi32(a.lo, b.lo), _mm_sub_epi32(a.hi, b.hi)}; }
  static V mul(V a, int32_t c) {
    const __m128i k = _mm_set1_epi32(c);
    return {_mm_mullo_epi32(a.lo, k), _mm_mullo_epi32(a.hi, k)};
  }
  static V shl2(V a) { return {_mm_slli_epi32(a.lo, 2), _mm_slli_epi32(a.hi, 2)}; }
  static V sra13(V a) { return {_mm_srai_epi32(a.lo, 13), _mm_srai_epi32(a.hi, 13)}; }
  static V widen(__m128i a) {
    return {_mm_cvtepi16_epi32(a), _mm_cvtepi16_epi32(_mm_srli_si128(a, 8))};
  }
  static V madd(__m128i a, __m128i b, int16_t ca, int16_t cb) {
    const __m128i k = _mm_set1_epi32(int32_t(uint16_t(cb)) << 16 | uint16_t(ca));
    return {_mm_madd_epi16(_mm_unpacklo_epi16(a, b), k),
            _mm_madd_epi16(_mm_unpackhi_epi16(a, b), k)};
  }
  static void high16(V a, V b, __m128i& outA, __m128i& outB) {
    outA = _mm_packus_epi32(_mm_srli_epi32(a.lo, 16), _mm_srli_epi32(a.hi, 16));
    outB = _mm_packus_epi32(_mm_srli_epi32(b.lo, 16), _mm_srli_epi32(b.hi, 16));
  }
};

#include "video/jpeg/idct_x86_kernel.h"

}  // namespace

void inverseDctSse41(int16_t* coefficients, uint8_t* out, int stride) {
  inverseDct<Sse41>(coefficients, out, stride);
}

}  // namespace jpeg

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#endif
