// The inverse DCT with 32-bit lanes, shared by the vector variants: all eight rows (then all
// eight columns) are transformed at once, in exactly the scalar transform's wrap-around
// arithmetic. Products of two 16-bit inputs use pmaddwd, which cannot overflow here; products of
// 32-bit intermediates use pmulld, and a·c1 + b·c2 style pairs are regrouped with three products
// instead of four, which is exact because integer products distribute modulo 2^32.
// Included inside an anonymous namespace by each variant after it has chosen its target and
// defined Ops: V (eight 32-bit lanes), set, add, sub, mul, shl2, sra13, widen, madd, high16 (two
// vectors).

// Transposes 8 × 8 16-bit values held as 8 rows.
__attribute__((always_inline)) inline void transpose(__m128i* v) {
  const __m128i a0 = _mm_unpacklo_epi16(v[0], v[1]), a1 = _mm_unpackhi_epi16(v[0], v[1]);
  const __m128i a2 = _mm_unpacklo_epi16(v[2], v[3]), a3 = _mm_unpackhi_epi16(v[2], v[3]);
  const __m128i a4 = _mm_unpacklo_epi16(v[4], v[5]), a5 = _mm_unpackhi_epi16(v[4], v[5]);
  const __m128i a6 = _mm_unpacklo_epi16(v[6], v[7]), a7 = _mm_unpackhi_epi16(v[6], v[7]);
  const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
  const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
  const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
  const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
  v[0] = _mm_unpacklo_epi64(b0, b4);
  v[1] = _mm_unpackhi_epi64(b0, b4);
  v[2] = _mm_unpacklo_epi64(b1, b5);
  v[3] = _mm_unpackhi_epi64(b1, b5);
  v[4] = _mm_unpacklo_epi64(b2, b6);
  v[5] = _mm_unpackhi_epi64(b2, b6);
  v[6] = _mm_unpacklo_epi64(b3, b7);
  v[7] = _mm_unpackhi_epi64(b3, b7);
}

// R(X) = ((X + 2^30 + 2^15) >> 16) − 2^14 truncated to 16 bits is the top half of X + 2^15:
// adding 2^30 adds 2^14 to the top half (modulo 2^16), which the subtraction takes away again.
// The caller has added the 2^15 already.
template <typename Ops>
__attribute__((always_inline)) inline void roundOut(typename Ops::V a, typename Ops::V b,
                                                    __m128i& outA, __m128i& outB) {
  Ops::high16(a, b, outA, outB);
}

// One 1-D transform of eight vectors x0..x7 (lane i: the i-th row or column), in place.
template <typename Ops>
__attribute__((always_inline)) inline void transform(__m128i* x) {
  using V = typename Ops::V;
  const V u = Ops::shl2(Ops::widen(x[1]));
  const V w = Ops::shl2(Ops::widen(x[7]));
  const V bias13 = Ops::set(0x40001000), two17 = Ops::set(131072);
  const V f = Ops::sub(Ops::sra13(Ops::add(Ops::madd(x[3], x[5], 23170, 23170), bias13)), two17);
  const V d = Ops::sub(Ops::sra13(Ops::add(Ops::madd(x[3], x[5], 23170, -23170), bias13)), two17);
  // Every output holds exactly one of l and r: the rounding term 2^15 rides on them.
  const V bias16 = Ops::set(0x8000);
  const V l = Ops::add(Ops::madd(x[0], x[4], 23170, 23170), bias16);
  const V r = Ops::add(Ops::madd(x[0], x[4], 23170, -23170), bias16);
  const V h = Ops::madd(x[2], x[6], 30274, 12540);
  const V o = Ops::madd(x[2], x[6], 12540, -30274);
  const V a = Ops::add(d, w), b = Ops::add(f, u), c = Ops::sub(u, f), e = Ops::sub(w, d);
  const V z = Ops::mul(Ops::add(a, b), 1598);
  const V g = Ops::add(z, Ops::mul(b, 6437));   // a·1598 + b·8035
  const V g2 = Ops::sub(z, Ops::mul(a, 9633));  // b·1598 − a·8035
  const V z2 = Ops::mul(Ops::add(c, e), 6811);
  const V t = Ops::sub(z2, Ops::mul(c, 2260));   // c·4551 + e·6811
  const V m = Ops::sub(z2, Ops::mul(e, 11362));  // c·6811 − e·4551
  const V lh = Ops::add(l, h), lmh = Ops::sub(l, h), ro = Ops::add(r, o), rmo = Ops::sub(r, o);
  roundOut<Ops>(Ops::add(lh, g), Ops::sub(lh, g), x[0], x[7]);
  roundOut<Ops>(Ops::add(ro, m), Ops::sub(ro, m), x[1], x[6]);
  roundOut<Ops>(Ops::add(rmo, t), Ops::sub(rmo, t), x[2], x[5]);
  roundOut<Ops>(Ops::add(lmh, g2), Ops::sub(lmh, g2), x[3], x[4]);
}

template <typename Ops>
inline void inverseDct(int16_t* coefficients, uint8_t* out, int stride) {
  __m128i v[8];
  __m128i* in = reinterpret_cast<__m128i*>(coefficients);
  for (int i = 0; i < 8; ++i) v[i] = _mm_loadu_si128(in + i);
  // Cleared store by store: a loop of them becomes a call of memset (rep stos), which costs
  // more than the rest of the transform.
  const __m128i zero = _mm_setzero_si128();
  _mm_storeu_si128(in + 0, zero);
  _mm_storeu_si128(in + 1, zero);
  _mm_storeu_si128(in + 2, zero);
  _mm_storeu_si128(in + 3, zero);
  _mm_storeu_si128(in + 4, zero);
  _mm_storeu_si128(in + 5, zero);
  _mm_storeu_si128(in + 6, zero);
  _mm_storeu_si128(in + 7, zero);
  // The coefficients are stored column by column: v[k] holds the k-th value of every row.
  transform<Ops>(v);  // v[k]: output k of every row
  transpose(v);       // v[k]: row k
  transform<Ops>(v);  // v[k]: output row k
  const __m128i shift = _mm_set1_epi16(128);
  for (int i = 0; i < 8; i += 2) {
    const __m128i bytes =
        _mm_packus_epi16(_mm_add_epi16(v[i], shift), _mm_add_epi16(v[i + 1], shift));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i * stride), bytes);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (i + 1) * stride), _mm_srli_si128(bytes, 8));
  }
}
