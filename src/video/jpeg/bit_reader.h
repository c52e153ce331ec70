#pragma once
// Reads the entropy-coded data through a 64-bit buffer while keeping the byte-level rules of the
// simple one-byte reader it replaces:
// - a byte 0xFF is data and the byte after it is skipped (the stuffed zero);
// - at the end-of-image marker FF D9 the byte before it is repeated and the reader stays put;
// - past the end of the data the last byte is repeated;
// - at a restart-interval boundary a marker FF Dx is looked for where the one-byte reader would
//   stand, not where the buffer has read ahead to.
// Bytes read ahead are plain functions of the data, so only the boundary check needs the
// one-byte reader's position; it is rebuilt from a short history of the fetches that did not
// advance by exactly one byte.
#include <cstdint>
#include <cstring>

#include "video/jpeg/huffman_table.h"

namespace jpeg {

class BitReader {
 public:
  // data[0..end) is readable; the entropy-coded data starts at offset start (2 <= start <= end).
  BitReader(const uint8_t* data, uint32_t start, uint32_t end) : data_(data), end_(end) {
    restartAt(start);
  }

  // More than 32 bits in the buffer afterwards.
  __attribute__((always_inline)) void fill() {
    if (bits_ > 32) return;
    while (bits_ <= 56) {
      if (p_ + 8 <= end_) {
        uint64_t word;
        std::memcpy(&word, data_ + p_, 8);
        // A zero byte of the inverted word is a 0xFF byte of the data; the lowest flag of this
        // zero-byte test is exact, so every byte before it can be taken as it is.
        const uint64_t inverted = ~word;
        const uint64_t flags =
            (inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull;
        const int plain = flags == 0 ? 8 : __builtin_ctzll(flags) >> 3;
        const int room = (64 - bits_) >> 3;
        const int n = plain < room ? plain : room;
        if (n > 0) {
          word = __builtin_bswap64(word) >> (64 - 8 * n) << (64 - 8 * n);
          buffer_ |= word >> bits_;
          bits_ += 8 * n;
          p_ += uint32_t(n);
          fetched_ += uint32_t(n);
          continue;
        }
      }
      fetchSlow();
    }
  }

  uint32_t peek(int n) const { return uint32_t(buffer_ >> (64 - n)); }  // 1 <= n <= 32
  void skip(int n) {
    buffer_ <<= n;
    bits_ -= n;
  }
  uint32_t take(int n) {  // 1 <= n <= 32, after fill
    const uint32_t v = peek(n);
    skip(n);
    return v;
  }

  // The next Huffman symbol, with the bit-by-bit search of the table's maxcode. A sequence that
  // matches no code of up to 16 bits uses 16 bits and gives symbol 0. Needs 16 bits buffered.
  __attribute__((always_inline)) int decodeBuffered(const HuffmanTable& table) {
    const uint32_t entry = table.lookup[peek(kLookupBits)];
    if (entry != 0) {
      skip(int(entry >> 8));
      return int(entry & 0xFF);
    }
    for (int n = kLookupBits + 1; n <= 16; ++n) {
      const uint32_t code = peek(n);
      if (table.matches(n, code)) {
        skip(n);
        return table.symbolFor(n, code);
      }
    }
    skip(16);
    return 0;
  }

  // Receive(n) as a 16-bit value, for n above 16 (only damaged data has such sizes): the low 16
  // bits of the n bits read.
  uint32_t receiveLong(int n) {
    uint32_t v = 0;
    while (n > 0) {
      const int chunk = n < 16 ? n : 16;
      fill();
      v = (v << chunk | take(chunk)) & 0xFFFF;
      n -= chunk;
    }
    return v;
  }

  // Restart-interval boundary: when the byte reader stands at FF Dx, skip the marker, drop the
  // buffered bits and return true.
  bool checkRestartMarker() {
    const uint32_t p = bytePosition();
    if (p + 1 < end_ && data_[p] == 0xFF && (data_[p + 1] >> 4) == 0xD) {
      restartAt(p + 2);
      return true;
    }
    return false;
  }

  // The one-byte reader's whole state: where it stands, the bits left in its current byte and
  // those bits (at the top, zeros below). The bits to come depend on nothing else.
  struct State {
    uint32_t position;
    int bitsLeft;
    uint8_t currentByte;
    bool operator==(const State&) const = default;
  };
  State state() const {
    const int left = bits_ & 7;
    return {bytePosition(), left, uint8_t(uint8_t(buffer_ >> 56) & uint8_t(0xFF00 >> left))};
  }

  // Where the one-byte reader would stand: after the last byte of which bits were used.
  uint32_t bytePosition() const {
    const uint32_t seq = fetched_ - uint32_t(bits_ >> 3);
    for (uint32_t i = segments_; i-- > 0 && segments_ - i <= kHistory;) {
      const Segment& s = history_[i % kHistory];
      if (s.firstSeq <= seq) return seq + s.delta;
    }
    return seq + history_[0].delta;  // not reached: the history always covers the buffer
  }

 private:
  static constexpr uint32_t kHistory = 16;
  // From fetch number firstSeq on, the byte reader stands at (fetch number + delta).
  struct Segment {
    uint32_t firstSeq;
    uint32_t delta;
  };

  void restartAt(uint32_t p) {
    p_ = p;
    buffer_ = 0;
    bits_ = 0;
    fetched_ = 0;
    history_[0] = {0, p};
    segments_ = 1;
  }

  uint8_t nextByte() {
    if (p_ >= end_) return data_[end_ - 1];
    if (data_[p_] == 0xFF && p_ + 1 < end_ && data_[p_ + 1] == 0xD9) return data_[p_ - 1];
    return data_[p_++];
  }

  void fetchSlow() {
    const uint8_t byte = nextByte();
    if (byte == 0xFF) nextByte();
    buffer_ |= uint64_t(byte) << (56 - bits_);
    bits_ += 8;
    ++fetched_;
    const uint32_t delta = p_ - fetched_;
    if (delta != history_[(segments_ - 1) % kHistory].delta) {
      history_[segments_ % kHistory] = {fetched_, delta};
      ++segments_;
    }
  }

  const uint8_t* data_;
  uint32_t end_;
  uint32_t p_ = 0;        // next byte to fetch into the buffer
  uint64_t buffer_ = 0;   // next bit in the top bit; unused bits are 0
  int bits_ = 0;          // valid bits in buffer_
  uint32_t fetched_ = 0;  // bytes fetched since the start or the last restart
  Segment history_[kHistory] = {};
  uint32_t segments_ = 0;
};

}  // namespace jpeg
