#pragma once
// YCbCr to BGR, one picture row at a time, with the integer conversion
//   blue  = clamp((Y·65536 + 116129·(Cb−128)) >> 16)
//   green = clamp((Y·65536 − 22553·(Cb−128) − 46801·(Cr−128)) >> 16)
//   red   = clamp((Y·65536 + 91881·(Cr−128)) >> 16)
// (no rounding term; the shift truncates toward minus infinity). Subsampled components are
// enlarged by repeating samples: pixel x takes sample x / repeat of its component's row.
#include <cstdint>

namespace jpeg {

struct ColourRow {
  const uint8_t* y;
  const uint8_t* cb;
  const uint8_t* cr;
  int yRepeat, cbRepeat, crRepeat;
};

void convertPixel(int y, int cb, int cr, uint8_t* bgr);

// Any repeat factors.
void convertRowScalar(const ColourRow& row, uint8_t* bgr, int width);
// Y at full width, Cb and Cr both repeated 1 or 2 times: the common layouts.
using ConvertRowFn = void (*)(const ColourRow& row, uint8_t* bgr, int width);
ConvertRowFn selectConvertRow(int chromaRepeat);

// Grey: the sample written three times.
void greyRow(const uint8_t* y, int repeat, uint8_t* bgr, int width);

}  // namespace jpeg
