#pragma once
// One Huffman table of the entropy-coded data, as defined by a DHT segment: the canonical codes
// of T.81 Annex C, the maxcode/mincode/valptr tables of F.2.2.3 and a lookup table that resolves
// every code of up to kLookupBits bits with one index.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace jpeg {

inline constexpr int kLookupBits = 9;

struct HuffmanTable {
  bool present = false;
  int count = 0;                // number of symbols
  std::vector<uint8_t> values;  // the symbols in DHT order, plus a terminating 0
  int16_t maxcode[17] = {};     // by code length 1..16; -1 when there is no code of that length
  uint16_t mincode[17] = {};
  int32_t valptr[17] = {};
  // Indexed by the next kLookupBits bits: (code length << 8) | symbol, or 0 when the code is
  // longer than kLookupBits bits.
  uint16_t lookup[1 << kLookupBits] = {};
  // For AC tables, the same bits resolved to a whole coefficient when its code and its extra
  // bits both fit: zero run, extended value and the two bit counts (codeBits 0: they don't fit,
  // or the symbol has no extra bits).
  struct Coefficient {
    int16_t value;
    uint8_t run;
    uint8_t codeBits;
    uint8_t totalBits;
  };
  Coefficient coefficient[1 << kLookupBits] = {};

  // counts: the 16 numbers of codes of each length; symbols: their sum of symbol bytes.
  void build(const uint8_t* counts, const uint8_t* symbols);

  // The symbol for a code of n bits (as the maxcode search found it); codes that point outside
  // the symbols give 0.
  uint8_t symbolFor(int n, uint32_t code) const {
    const int32_t index = valptr[n] + int32_t(code) - mincode[n];
    return index >= 0 && index < count ? values[size_t(index)] : 0;
  }
  // Extend(v, size) of T.81 F.2.2.1; sizes above 15 leave the value as it is.
  static int extend(uint32_t v, int size) {
    if (size >= 1 && size <= 15 && v < (1u << (size - 1))) return int(v) - (1 << size) + 1;
    return int(v);
  }
  // Extend for sizes 1..15, without branches.
  static int extendSized(uint32_t v, int size) {
    const int value = int(v);
    return value + (((value - (1 << (size - 1))) >> 31) & (1 - (1 << size)));
  }
  // True when a code of n bits with this value ends the search.
  bool matches(int n, uint32_t code) const {
    return maxcode[n] != -1 && uint16_t(code) <= uint16_t(maxcode[n]);
  }
};

}  // namespace jpeg
