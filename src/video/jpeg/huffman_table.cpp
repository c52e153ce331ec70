#include "video/jpeg/huffman_table.h"

#include <algorithm>

namespace jpeg {
namespace {

// The look-up entry for the symbol of a code of n bits, followed by the rest of pattern.
uint32_t entryFor(uint8_t symbol, int n, uint32_t pattern, bool ac) {
  const int size = ac ? symbol & 15 : symbol;
  if (ac && symbol == 0xF0) return uint32_t(n) | lookup::kZeroRun;
  if (ac && size == 0) return uint32_t(n) | lookup::kEnd;
  if (size > 15 || n + size > kLookupBits)
    return uint32_t(n) | lookup::kSymbol | uint32_t(symbol) << 16;
  const uint32_t extra = size == 0 ? 0 : pattern >> (kLookupBits - n - size) & ((1u << size) - 1);
  const int value = HuffmanTable::extend(extra, size);
  return uint32_t(n + size) | lookup::kValue | uint32_t(n) << 7 |
         uint32_t(ac ? (symbol >> 4) + 1 : 0) << 11 | uint32_t(uint16_t(value)) << 16;
}

}  // namespace

void HuffmanTable::build(const uint8_t* counts, const uint8_t* symbols, bool ac) {
  count = 0;
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
    mincode[n] = 0;
    valptr[n] = 0;
    if (counts[n - 1] == 0) {
      maxcode[n] = -1;
    } else {
      valptr[n] = j;
      mincode[n] = codes[size_t(j)];
      j += counts[n - 1];
      maxcode[n] = int16_t(codes[size_t(j - 1)]);
    }
  }

  // The look-up table gives each pattern of kLookupBits bits what the bit-by-bit search gives:
  // the first length n whose prefix is at most maxcode[n]. The patterns that end the search at
  // length n are those below limit[n], so the length found never decreases from one pattern to
  // the next.
  constexpr uint32_t kPatterns = 1u << kLookupBits;
  uint32_t limit[kLookupBits + 2];
  for (int n = 1; n <= kLookupBits; ++n)
    limit[n] = maxcode[n] == -1
                   ? 0
                   : std::min(kPatterns, (uint32_t(uint16_t(maxcode[n])) + 1) << (kLookupBits - n));
  limit[kLookupBits + 1] = kPatterns;  // longer codes: searched bit by bit when decoding
  int n = 1;
  for (uint32_t pattern = 0; pattern < kPatterns;) {
    while (limit[n] <= pattern) ++n;
    if (n > kLookupBits) {
      std::fill(fast + pattern, fast + kPatterns, lookup::kSymbol);
      break;
    }
    // One code at a time: 2^(kLookupBits - n) patterns share it.
    const uint32_t code = pattern >> (kLookupBits - n);
    const uint32_t codeEnd = std::min(limit[n], (code + 1) << (kLookupBits - n));
    const uint8_t symbol = symbolFor(n, code);
    for (; pattern < codeEnd; ++pattern) fast[pattern] = entryFor(symbol, n, pattern, ac);
  }
}

}  // namespace jpeg
