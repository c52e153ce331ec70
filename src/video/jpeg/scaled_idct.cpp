#include "video/jpeg/scaled_idct.h"

#include <cstring>
#include <initializer_list>

namespace jpeg {
namespace {

using U = uint32_t;  // sums and products wrap at 32 bits

// Rounded arithmetic shift right.
int32_t descale(U x, int n) {
  return int32_t(x + (U(1) << (n - 1))) >> n;
}
uint8_t clampSample(int32_t v) {
  v += 128;
  return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

// The 4-point transform of the even inputs 0, 2, 6 and odd inputs 1, 3, 5, 7 (input 4 unused).
struct Four {
  U a0, a1, a2, a3;  // the outputs before the final shift
};
Four fourPoint(int32_t x0, int32_t x1, int32_t x2, int32_t x3, int32_t x5, int32_t x6, int32_t x7) {
  const U t0 = U(x0) << 14;
  const U t2 = U(x2) * 15137u - U(x6) * 6270u;
  const U t10 = t0 + t2, t12 = t0 - t2;
  const U o0 = U(x1) * 8697u - U(x3) * 17799u + U(x5) * 11893u - U(x7) * 1730u;
  const U o2 = U(x1) * 20995u + U(x3) * 7373u - U(x5) * 4926u - U(x7) * 4176u;
  return {t10 + o2, t12 + o0, t12 - o0, t10 - o2};
}

// The 2-point transform of inputs 0, 1, 3, 5 and 7 (the even ones beyond 0 unused).
struct Two {
  U a0, a1;
};
Two twoPoint(int32_t x0, int32_t x1, int32_t x3, int32_t x5, int32_t x7) {
  const U t10 = U(x0) << 15;
  const U t0 = U(x1) * 29692u - U(x3) * 10426u + U(x5) * 6967u - U(x7) * 5906u;
  return {t10 + t0, t10 - t0};
}

void clear(int16_t* coefficients) {
  std::memset(coefficients, 0, 64 * sizeof(int16_t));
}

}  // namespace

void inverseDct4x4(int16_t* coefficients, uint8_t* out, int stride) {
  int32_t ws[4][8];
  for (int c = 0; c < 8; ++c) {
    if (c == 4) continue;  // the second pass doesn't use column 4
    const int16_t* in = coefficients + c;
    auto x = [in](int r) { return int32_t(in[r * 8]); };
    if ((x(1) | x(2) | x(3) | x(5) | x(6) | x(7)) == 0) {
      const int32_t dc = int32_t(U(x(0)) << 2);
      ws[0][c] = ws[1][c] = ws[2][c] = ws[3][c] = dc;
      continue;
    }
    const Four f = fourPoint(x(0), x(1), x(2), x(3), x(5), x(6), x(7));
    ws[0][c] = descale(f.a0, 12);
    ws[1][c] = descale(f.a1, 12);
    ws[2][c] = descale(f.a2, 12);
    ws[3][c] = descale(f.a3, 12);
  }
  clear(coefficients);
  for (int r = 0; r < 4; ++r, out += stride) {
    const int32_t* w = ws[r];
    if ((w[1] | w[2] | w[3] | w[5] | w[6] | w[7]) == 0) {
      std::memset(out, clampSample(descale(U(w[0]), 5)), 4);
      continue;
    }
    const Four f = fourPoint(w[0], w[1], w[2], w[3], w[5], w[6], w[7]);
    out[0] = clampSample(descale(f.a0, 19));
    out[1] = clampSample(descale(f.a1, 19));
    out[2] = clampSample(descale(f.a2, 19));
    out[3] = clampSample(descale(f.a3, 19));
  }
}

void inverseDct2x2(int16_t* coefficients, uint8_t* out, int stride) {
  int32_t ws[2][8];
  for (int c : {0, 1, 3, 5, 7}) {  // the second pass uses only these columns
    const int16_t* in = coefficients + c;
    auto x = [in](int r) { return int32_t(in[r * 8]); };
    if ((x(1) | x(3) | x(5) | x(7)) == 0) {
      ws[0][c] = ws[1][c] = int32_t(U(x(0)) << 2);
      continue;
    }
    const Two t = twoPoint(x(0), x(1), x(3), x(5), x(7));
    ws[0][c] = descale(t.a0, 13);
    ws[1][c] = descale(t.a1, 13);
  }
  clear(coefficients);
  for (int r = 0; r < 2; ++r, out += stride) {
    const int32_t* w = ws[r];
    if ((w[1] | w[3] | w[5] | w[7]) == 0) {
      out[0] = out[1] = clampSample(descale(U(w[0]), 5));
      continue;
    }
    const Two t = twoPoint(w[0], w[1], w[3], w[5], w[7]);
    out[0] = clampSample(descale(t.a0, 20));
    out[1] = clampSample(descale(t.a1, 20));
  }
}

}  // namespace jpeg

namespace jpeg {

ScaledInverseDctFn selectInverseDct4x4() {
#if defined(__x86_64__) || defined(__i386__)
  if (__builtin_cpu_supports("sse4.1")) return inverseDct4x4Sse41;
#endif
  return inverseDct4x4;
}

ScaledInverseDctFn selectInverseDct2x2() {
#if defined(__x86_64__) || defined(__i386__)
  if (__builtin_cpu_supports("sse4.1")) return inverseDct2x2Sse41;
#endif
  return inverseDct2x2;
}

}  // namespace jpeg
