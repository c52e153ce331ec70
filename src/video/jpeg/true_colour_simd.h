#pragma once
// The YCbCr row conversion of true_colour.h, with vector variants (each needs the named
// instruction set at run time; every variant gives the scalar one's bytes).
#include "video/jpeg/idct_simd.h"
#include "video/jpeg/true_colour.h"

namespace jpeg {

using ConvertYccRowFn = void (*)(const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                                 PixelFormat format, uint8_t* out, int width);
void convertRowYccScalar(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, PixelFormat format,
                         uint8_t* out, int width);
#ifdef PV_JPEG_X86
void convertRowYccAvx2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, PixelFormat format,
                       uint8_t* out, int width);
#endif
// The fastest variant this processor runs.
ConvertYccRowFn selectConvertYccRow();

}  // namespace jpeg
