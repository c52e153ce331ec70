#pragma once
// The integer inverse DCT: a 1-D transform on the 8 rows, then on the 8 columns, in 32-bit
// two's complement arithmetic with fixed constants, then a level shift by 128 and a clamp to
// 0..255. Every variant gives the same bytes as the scalar one.
#include <cstdint>

namespace jpeg {

// The two passes, in place on 64 row-major values.
void inverseDctRows(int16_t* block);
void inverseDctColumns(int16_t* block);

// Full transform of 64 coefficients to 8 rows of 8 samples, stride bytes apart. The coefficients
// are stored column by column (the one of row r, column c at c·8 + r), which hands the row pass
// its inputs without a transpose; they are left all 0, ready for the next block.
using InverseDctFn = void (*)(int16_t* coefficients, uint8_t* out, int stride);
void inverseDctScalar(int16_t* coefficients, uint8_t* out, int stride);
// The fastest variant this processor runs.
InverseDctFn selectInverseDct();

// The sample of a block whose only non-zero coefficient is the DC value dc.
uint8_t dcOnlySample(int16_t dc);

}  // namespace jpeg
