#pragma once
// Inverse DCTs with reduced output: 8 × 8 coefficients to 4 × 4, 2 × 2 or 1 × 1 samples, for
// decoding at 1/2, 1/4 and 1/8 of the full size. They are the classic reduced transforms of the
// accurate integer DCT (13-bit constants, 2 extra bits between the passes) that the common
// decoders use for scaled output, so a reduced picture matches theirs; coefficients of the
// frequencies the smaller output can't show are ignored. Arithmetic wraps at 32 bits, so any
// coefficients are safe; the vector variants, like the common decoders' own, keep the values
// between the passes in 16 bits, so they give the scalar bytes whenever those values fit (any
// picture a camera sends).
//
// Coefficients are dequantised and stored row by row (row r, column c at r·8 + c); the
// transform leaves all 64 of them 0.
#include <cstdint>

namespace jpeg {

using ScaledInverseDctFn = void (*)(int16_t* coefficients, uint8_t* out, int stride);
void inverseDct4x4(int16_t* coefficients, uint8_t* out, int stride);
void inverseDct2x2(int16_t* coefficients, uint8_t* out, int stride);
#if defined(__x86_64__) || defined(__i386__)
void inverseDct4x4Sse41(int16_t* coefficients, uint8_t* out, int stride);
void inverseDct2x2Sse41(int16_t* coefficients, uint8_t* out, int stride);
#endif
// The fastest variants this processor runs.
ScaledInverseDctFn selectInverseDct4x4();
ScaledInverseDctFn selectInverseDct2x2();

// The sample of a reduced block whose only non-zero coefficient is the DC value dc; also the
// whole 1 × 1 transform.
inline uint8_t reducedDcSample(int16_t dc) {
  const int v = ((int(dc) + 4) >> 3) + 128;
  return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

}  // namespace jpeg
