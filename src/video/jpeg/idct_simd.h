#pragma once
// Vector variants of the inverse DCT; each needs the named instruction set at run time.
#include <cstdint>

namespace jpeg {

#if defined(__x86_64__) || defined(__i386__)
#define PV_JPEG_X86 1
void inverseDctAvx2(int16_t* coefficients, uint8_t* out, int stride);
void inverseDctSse41(int16_t* coefficients, uint8_t* out, int stride);
#endif

}  // namespace jpeg
