#include "video/jpeg/huffman_table.h"

namespace jpeg {

void HuffmanTable::build(const uint8_t* counts, const uint8_t* symbols) {
  *this = HuffmanTable{};
  present = true;
  for (int n = 0; n < 16; ++n) count += counts[n];
  values.assign(symbols, symbols + count);
  values.push_back(0);

  // Code lengths in symbol order, then the canonical codes (T.81 C.1, C.2).
  std::vector<uint8_t> sizes;
  sizes.reserve(size_t(count) + 1);
  for (int n = 1; n <= 16; ++n) sizes.insert(sizes.end(), counts[n - 1], uint8_t(n));
  sizes.push_back(0);
  std::vector<uint16_t> codes(size_t(count) + 1, 0);
  if (count > 0) {
    uint32_t code = 0;
    int size = sizes[0];
    size_t k = 0;
    for (;;) {
      while (sizes[k] == size) codes[k++] = uint16_t(code++);
      if (sizes[k] == 0) break;
      while (sizes[k] != size) {
        code <<= 1;
        ++size;
      }
    }
  }
  int j = 0;
  for (int n = 1; n <= 16; ++n) {
    if (counts[n - 1] == 0) {
      maxcode[n] = -1;
    } else {
      valptr[n] = j;
      mincode[n] = codes[size_t(j)];
      j += counts[n - 1];
      maxcode[n] = int16_t(codes[size_t(j - 1)]);
    }
  }

  // The lookup table repeats the bit-by-bit search for every pattern of kLookupBits bits.
  for (uint32_t pattern = 0; pattern < (1u << kLookupBits); ++pattern) {
    for (int n = 1; n <= kLookupBits; ++n) {
      const uint32_t code = pattern >> (kLookupBits - n);
      if (matches(n, code)) {
        const uint8_t symbol = symbolFor(n, code);
        lookup[pattern] = uint16_t(n << 8 | symbol);
        const int size = symbol & 15;
        if (size != 0 && n + size <= kLookupBits) {
          const uint32_t extra = (pattern >> (kLookupBits - n - size)) & ((1u << size) - 1);
          coefficient[pattern] = {int16_t(extend(extra, size)), uint8_t(symbol >> 4), uint8_t(n),
                                  uint8_t(n + size)};
        }
        break;
      }
    }
  }
}

}  // namespace jpeg
