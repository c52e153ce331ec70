#include "video/jpeg/idct.h"

#include "video/jpeg/idct_simd.h"

namespace jpeg {
namespace {

using U = uint32_t;  // sums and products wrap at 32 bits
int32_t sra(U v, int n) {
  return int32_t(v) >> n;
}
int16_t roundOut(U x) {
  return int16_t(sra(x + 0x40008000u, 16) - 16384);
}

void transform(int16_t* v, int stride) {
  const int32_t x0 = v[0], x1 = v[stride], x2 = v[2 * stride], x3 = v[3 * stride];
  const int32_t x4 = v[4 * stride], x5 = v[5 * stride], x6 = v[6 * stride], x7 = v[7 * stride];
  if ((x1 | x2 | x3 | x4 | x5 | x6 | x7) == 0) {  // every output is the scaled DC term
    const int16_t dc = roundOut(U(x0) * 23170u);
    for (int i = 0; i < 8; ++i) v[i * stride] = dc;
    return;
  }
  const int32_t u = 4 * x1;
  const int32_t w = 4 * x7;
  const int32_t f = sra(U(x3 + x5) * 23170u + 0x40001000u, 13) - 131072;
  const int32_t d = sra(U(x3 - x5) * 23170u + 0x40001000u, 13) - 131072;
  const U l = U(x0 + x4) * 23170u;
  const U r = U(x0 - x4) * 23170u;
  const U h = U(x2) * 30274u + U(x6) * 12540u;
  const U o = U(x2) * 12540u - U(x6) * 30274u;
  const U g = U(d + w) * 1598u + U(f + u) * 8035u;
  const U g2 = U(f + u) * 1598u - U(d + w) * 8035u;
  const U t = U(u - f) * 4551u + U(w - d) * 6811u;
  const U m = U(u - f) * 6811u - U(w - d) * 4551u;
  v[0] = roundOut(l + h + g);
  v[stride] = roundOut(r + o + m);
  v[2 * stride] = roundOut(r - o + t);
  v[3 * stride] = roundOut(l - h + g2);
  v[4 * stride] = roundOut(l - h - g2);
  v[5 * stride] = roundOut(r - o - t);
  v[6 * stride] = roundOut(r + o - m);
  v[7 * stride] = roundOut(l + h - g);
}

uint8_t levelShift(int16_t v) {
  const int16_t shifted = int16_t(v + 128);
  return uint8_t(shifted < 0 ? 0 : shifted > 255 ? 255 : shifted);
}

}  // namespace

void inverseDctRows(int16_t* block) {
  for (int row = 0; row < 8; ++row) transform(block + 8 * row, 1);
}

void inverseDctColumns(int16_t* block) {
  for (int col = 0; col < 8; ++col) transform(block + col, 8);
}

void inverseDctScalar(int16_t* coefficients, uint8_t* out, int stride) {
  int16_t block[64];
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) block[r * 8 + c] = coefficients[c * 8 + r];
  for (int i = 0; i < 64; ++i) coefficients[i] = 0;
  inverseDctRows(block);
  inverseDctColumns(block);
  for (int row = 0; row < 8; ++row)
    for (int col = 0; col < 8; ++col) out[row * stride + col] = levelShift(block[row * 8 + col]);
}

uint8_t dcOnlySample(int16_t dc) {
  return levelShift(roundOut(U(roundOut(U(dc) * 23170u)) * 23170u));
}

InverseDctFn selectInverseDct() {
#ifdef PV_JPEG_X86
  if (__builtin_cpu_supports("avx2")) return inverseDctAvx2;
  if (__builtin_cpu_supports("sse4.1")) return inverseDctSse41;
#endif
  return inverseDctScalar;
}

}  // namespace jpeg
