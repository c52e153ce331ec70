#pragma once
// Vector variants of the row conversion; each needs the named instruction set at run time.
// Full: Cb and Cr at full width; Half: each chroma sample covers two pixels.
#include "video/jpeg/colour_convert.h"
#include "video/jpeg/idct_simd.h"

namespace jpeg {

#ifdef PV_JPEG_X86
void convertRowSsse3Full(const ColourRow& row, uint8_t* bgr, int width);
void convertRowSsse3Half(const ColourRow& row, uint8_t* bgr, int width);
void convertRowAvx2Full(const ColourRow& row, uint8_t* bgr, int width);
void convertRowAvx2Half(const ColourRow& row, uint8_t* bgr, int width);
#endif

}  // namespace jpeg
