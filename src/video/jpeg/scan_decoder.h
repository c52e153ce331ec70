#pragma once
// Decodes the entropy-coded data of one scan into the BGR picture: MCU by MCU, each block
// Huffman-decoded, dequantised, reordered, inverse-transformed, and each MCU row converted from
// YCbCr (or grey) as soon as it is complete.
#include <cstdint>

#include "video/jpeg/huffman_table.h"

namespace jpeg {

struct ScanComponent {
  const HuffmanTable* dc;
  const HuffmanTable* ac;
  const uint8_t* quant;  // 64 values in zig-zag order, after a byte of the same array
  int h, v;              // blocks across and down in one MCU
};

struct Scan {
  const uint8_t* data;
  uint32_t start, end;  // entropy-coded data from start; data readable up to end
  int componentCount;   // 1 (grey) or 3 (YCbCr)
  ScanComponent components[3];
  int hmax, vmax;
  uint32_t width, height;  // multiples of the MCU size
  uint16_t restartInterval;
};

// True when every component's sampling factors divide the largest ones.
bool samplingCovered(const Scan& scan);

// picture: width × height × 3 bytes; every byte is written. Returns the offset where the byte
// reader stands at the end of the scan.
uint32_t decodeScan(const Scan& scan, uint8_t* picture);

// One sample plane per scan component, each the component's whole area with every 8 × 8 block
// reduced to size × size samples (8, 4, 2 or 1): (width / 8 / hmax · h · size) ×
// (height / 8 / vmax · v · size) samples, rows stride apart.
struct Planes {
  uint8_t* samples[3];
  int stride[3];
  int size[3];
};
// Decodes the scan into the planes; every sample of them is written. Returns the offset where
// the byte reader stands at the end.
uint32_t decodeScanToPlanes(const Scan& scan, const Planes& planes);

}  // namespace jpeg
