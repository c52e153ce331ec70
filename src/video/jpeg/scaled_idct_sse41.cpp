// The reduced inverse DCTs for processors with SSE4.1. The first pass runs on the eight
// columns at once (a row of coefficients per register); its results are kept in 16 bits,
// transposed, and the second pass runs on the rows at once. Products of two 16-bit values go
// through pmaddwd, two of them per 32-bit lane, which can't overflow with these constants.
#include "video/jpeg/scaled_idct.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#include <cstring>

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("sse4.1"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("sse4.1")
#endif

namespace jpeg {
namespace {

// The pmaddwd constant pair (a, b) in every lane: a·x + b·y for lanes holding x, y.
__attribute__((always_inline)) inline __m128i pair(int16_t a, int16_t b) {
  return _mm_set1_epi32(int32_t(uint32_t(uint16_t(b)) << 16 | uint16_t(a)));
}
__attribute__((always_inline)) inline __m128i descale(__m128i v, int n) {
  return _mm_srai_epi32(_mm_add_epi32(v, _mm_set1_epi32(1 << (n - 1))), n);
}
__attribute__((always_inline)) inline __m128i load(const int16_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
__attribute__((always_inline)) inline void clear(int16_t* p) {
  const __m128i zero = _mm_setzero_si128();
  __m128i* v = reinterpret_cast<__m128i*>(p);
  _mm_storeu_si128(v + 0, zero);
  _mm_storeu_si128(v + 1, zero);
  _mm_storeu_si128(v + 2, zero);
  _mm_storeu_si128(v + 3, zero);
  _mm_storeu_si128(v + 4, zero);
  _mm_storeu_si128(v + 5, zero);
  _mm_storeu_si128(v + 6, zero);
  _mm_storeu_si128(v + 7, zero);
}
// The low or high four 16-bit lanes, widened.
template <bool kHigh>
__attribute__((always_inline)) inline __m128i widen(__m128i v) {
  return _mm_cvtepi16_epi32(kHigh ? _mm_srli_si128(v, 8) : v);
}
template <bool kHigh>
__attribute__((always_inline)) inline __m128i interleave(__m128i a, __m128i b) {
  return kHigh ? _mm_unpackhi_epi16(a, b) : _mm_unpacklo_epi16(a, b);
}

// The 4-point transform: even inputs 0, 2, 6 (x0 already shifted), odd pairs (1, 3) and (5, 7).
struct Four {
  __m128i a0, a1, a2, a3;
};
__attribute__((always_inline)) inline Four fourPoint(__m128i t0, __m128i p26, __m128i p13,
                                                     __m128i p57) {
  const __m128i t2 = _mm_madd_epi16(p26, pair(15137, -6270));
  const __m128i t10 = _mm_add_epi32(t0, t2), t12 = _mm_sub_epi32(t0, t2);
  const __m128i o0 = _mm_add_epi32(_mm_madd_epi16(p13, pair(8697, -17799)),
                                   _mm_madd_epi16(p57, pair(11893, -1730)));
  const __m128i o2 = _mm_add_epi32(_mm_madd_epi16(p13, pair(20995, 7373)),
                                   _mm_madd_epi16(p57, pair(-4926, -4176)));
  return {_mm_add_epi32(t10, o2), _mm_add_epi32(t12, o0), _mm_sub_epi32(t12, o0),
          _mm_sub_epi32(t10, o2)};
}

template <bool kHigh>
__attribute__((always_inline)) inline Four columns4(const __m128i* x) {
  const __m128i t0 = _mm_slli_epi32(widen<kHigh>(x[0]), 14);
  const Four f = fourPoint(t0, interleave<kHigh>(x[2], x[6]), interleave<kHigh>(x[1], x[3]),
                           interleave<kHigh>(x[5], x[7]));
  return {descale(f.a0, 12), descale(f.a1, 12), descale(f.a2, 12), descale(f.a3, 12)};
}

// Four 32-bit samples of each of a, b (then c, d) to bytes, level-shifted and clamped.
__attribute__((always_inline)) inline __m128i toBytes(__m128i a, __m128i b, __m128i c, __m128i d) {
  const __m128i shift = _mm_set1_epi16(128);
  return _mm_packus_epi16(_mm_add_epi16(_mm_packs_epi32(a, b), shift),
                          _mm_add_epi16(_mm_packs_epi32(c, d), shift));
}

}  // namespace

void inverseDct4x4Sse41(int16_t* coefficients, uint8_t* out, int stride) {
  __m128i x[8];
  for (int r = 0; r < 8; ++r) x[r] = load(coefficients + 8 * r);
  clear(coefficients);
  // First pass, lanes = columns; rows 0..3 of the intermediate in 16 bits.
  const Four lo = columns4<false>(x), hi = columns4<true>(x);
  const __m128i r0 = _mm_packs_epi32(lo.a0, hi.a0), r1 = _mm_packs_epi32(lo.a1, hi.a1);
  const __m128i r2 = _mm_packs_epi32(lo.a2, hi.a2), r3 = _mm_packs_epi32(lo.a3, hi.a3);
  // Transposed: each register holds two columns of the four rows.
  const __m128i a = _mm_unpacklo_epi16(r0, r1), b = _mm_unpacklo_epi16(r2, r3);
  const __m128i c = _mm_unpackhi_epi16(r0, r1), d = _mm_unpackhi_epi16(r2, r3);
  const __m128i c01 = _mm_unpacklo_epi32(a, b), c23 = _mm_unpackhi_epi32(a, b);
  const __m128i c45 = _mm_unpacklo_epi32(c, d), c67 = _mm_unpackhi_epi32(c, d);
  // Second pass, lanes = rows: output k of every row.
  const Four f =
      fourPoint(_mm_slli_epi32(_mm_cvtepi16_epi32(c01), 14), _mm_unpacklo_epi16(c23, c67),
                _mm_unpackhi_epi16(c01, c23), _mm_unpackhi_epi16(c45, c67));
  const __m128i bytes =
      toBytes(descale(f.a0, 19), descale(f.a1, 19), descale(f.a2, 19), descale(f.a3, 19));
  // Column by column to row by row.
  const __m128i rows =
      _mm_shuffle_epi8(bytes, _mm_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15));
  alignas(16) uint8_t block[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(block), rows);
  for (int r = 0; r < 4; ++r) std::memcpy(out + r * stride, block + 4 * r, 4);
}

void inverseDct2x2Sse41(int16_t* coefficients, uint8_t* out, int stride) {
  const __m128i x0 = load(coefficients), x1 = load(coefficients + 8);
  const __m128i x3 = load(coefficients + 24), x5 = load(coefficients + 40);
  const __m128i x7 = load(coefficients + 56);
  clear(coefficients);
  // First pass, lanes = columns (only 0, 1, 3, 5 and 7 matter): rows 0 and 1 of the
  // intermediate in 16 bits.
  __m128i row0[2], row1[2];
  const __m128i k13 = pair(29692, -10426), k57 = pair(6967, -5906);
  {
    const __m128i t10 = _mm_slli_epi32(widen<false>(x0), 15);
    const __m128i t0 = _mm_add_epi32(_mm_madd_epi16(interleave<false>(x1, x3), k13),
                                     _mm_madd_epi16(interleave<false>(x5, x7), k57));
    row0[0] = descale(_mm_add_epi32(t10, t0), 13);
    row1[0] = descale(_mm_sub_epi32(t10, t0), 13);
  }
  {
    const __m128i t10 = _mm_slli_epi32(widen<true>(x0), 15);
    const __m128i t0 = _mm_add_epi32(_mm_madd_epi16(interleave<true>(x1, x3), k13),
                                     _mm_madd_epi16(interleave<true>(x5, x7), k57));
    row0[1] = descale(_mm_add_epi32(t10, t0), 13);
    row1[1] = descale(_mm_sub_epi32(t10, t0), 13);
  }
  const __m128i r0 = _mm_packs_epi32(row0[0], row0[1]), r1 = _mm_packs_epi32(row1[0], row1[1]);
  // Second pass, lanes = rows: columns 0..3 and 4..7 of both rows, then the odd pairs.
  const __m128i a = _mm_unpacklo_epi16(r0, r1), c = _mm_unpackhi_epi16(r0, r1);
  const __m128i odd = _mm_setr_epi8(4, 5, 12, 13, 6, 7, 14, 15, 4, 5, 12, 13, 6, 7, 14, 15);
  const __m128i t10 = _mm_slli_epi32(_mm_cvtepi16_epi32(a), 15);  // lanes 0, 1: rows 0, 1
  const __m128i t0 = _mm_add_epi32(_mm_madd_epi16(_mm_shuffle_epi8(a, odd), k13),
                                   _mm_madd_epi16(_mm_shuffle_epi8(c, odd), k57));
  const __m128i y0 = descale(_mm_add_epi32(t10, t0), 20), y1 = descale(_mm_sub_epi32(t10, t0), 20);
  // [y0 row 0, y0 row 1, -, -, y1 row 0, y1 row 1, -, -] to [row 0: y0 y1, row 1: y0 y1].
  const __m128i bytes = _mm_shuffle_epi8(
      toBytes(y0, y1, y0, y1), _mm_setr_epi8(0, 4, 1, 5, 0, 4, 1, 5, 0, 4, 1, 5, 0, 4, 1, 5));
  const uint32_t both = uint32_t(_mm_cvtsi128_si32(bytes));
  const uint16_t first = uint16_t(both), second = uint16_t(both >> 16);
  std::memcpy(out, &first, 2);
  std::memcpy(out + stride, &second, 2);
}

}  // namespace jpeg

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#endif
