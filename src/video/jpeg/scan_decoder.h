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
  const uint8_t* quant;  // 64 values in zig-zag order
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

// picture: width × height × 3 bytes; every byte is written. Returns the offset where the byte
// reader stands at the end of the scan.
uint32_t decodeScan(const Scan& scan, uint8_t* picture);

}  // namespace jpeg
