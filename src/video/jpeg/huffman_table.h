#pragma once
// One Huffman table of the entropy-coded data, as defined by a DHT segment: the canonical codes
// of T.81 Annex C, the maxcode/mincode/valptr tables of F.2.2.3, and a look-up table that
// resolves the next kLookupBits bits in one step: the symbol and its code length, and, where
// they fit too, the extra bits that follow as the finished value.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace jpeg {

inline constexpr int kLookupBits = 10;  // at most 15 (code lengths in 4 bits)

// An entry of the look-up table (32 bits):
//   bits 0..4    bits to consume: code and extra bits for kValue, the code for the other kinds;
//                0 when the code is longer than kLookupBits bits
//   bits 5..6    kind
//   bits 7..10   code length (kValue)
//   bits 11..15  zero run before the coefficient plus 1: the step to the position after it
//                (kValue of an AC table)
//   bits 16..31  the extended value (kValue) or the symbol (kSymbol)
namespace lookup {
inline constexpr uint32_t kValue = 0 << 5;    // a whole DC difference or AC coefficient
inline constexpr uint32_t kEnd = 1 << 5;      // AC: a symbol of size 0 other than a zero run
inline constexpr uint32_t kZeroRun = 2 << 5;  // AC: sixteen zeros (symbol 0xF0)
inline constexpr uint32_t kSymbol = 3 << 5;   // the symbol only; its extra bits don't fit
inline constexpr uint32_t kKindMask = 3 << 5;

inline int consumed(uint32_t entry) {
  return int(entry & 31);
}
inline int codeLength(uint32_t entry) {
  return int(entry >> 7 & 15);
}
inline uint32_t step(uint32_t entry) {
  return entry >> 11 & 31;
}
inline int value(uint32_t entry) {
  return int32_t(entry) >> 16;
}
inline int symbol(uint32_t entry) {
  return int(entry >> 16 & 0xFF);
}
}  // namespace lookup

struct HuffmanTable {
  int count = 0;                // number of symbols
  std::vector<uint8_t> values;  // the symbols in DHT order, plus a terminating 0
  int16_t maxcode[17] = {};     // by code length 1..16; -1 when there is no code of that length
  uint16_t mincode[17] = {};
  int32_t valptr[17] = {};
  uint32_t fast[1 << kLookupBits] = {};  // see lookup above

  // counts: the 16 numbers of codes of each length; symbols: their sum of symbol bytes. ac:
  // the table decodes AC coefficients (run and size), else DC differences (size only).
  void build(const uint8_t* counts, const uint8_t* symbols, bool ac);

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
