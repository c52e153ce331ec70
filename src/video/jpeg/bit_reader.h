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
//
// The decoding loop holds the buffer in a Cursor of its own (registers, not memory) and hands it
// back when it is done; only the rare refills near a 0xFF byte or the end go through the
// reader's members.
#include <cstdint>
#include <cstring>

namespace jpeg {

class BitReader {
 public:
  struct Cursor {
    uint64_t buffer;  // next bit in the top bit; unused bits are 0
    int bits;         // valid bits in buffer
    uint32_t next;    // next byte to fetch into the buffer

    uint32_t peek(int n) const { return uint32_t(buffer >> (64 - n)); }  // 1 <= n <= 32
    void skip(int n) {
      buffer <<= n;
      bits -= n;
    }
    uint32_t take(int n) {  // 1 <= n <= 32
      const uint32_t v = peek(n);
      skip(n);
      return v;
    }
  };

  // data[0..end) is readable; the entropy-coded data starts at offset start (2 <= start <= end).
  BitReader(const uint8_t* data, uint32_t start, uint32_t end) : data_(data), end_(end) {
    restartAt(start);
  }

  Cursor cursor() const { return cursor_; }
  void setCursor(const Cursor& c) { cursor_ = c; }

  // More than 32 bits in the buffer afterwards.
  __attribute__((always_inline)) void fill(Cursor& c) {
    if (c.bits > 32) return;
    if (c.next + 8 <= end_) {
      uint64_t word;
      std::memcpy(&word, data_ + c.next, 8);
      // A zero byte of the inverted word is a 0xFF byte of the data; the lowest flag of this
      // zero-byte test is exact, so every byte before it can be taken as it is.
      const uint64_t inverted = ~word;
      const uint64_t flags = (inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull;
      const int plain = flags == 0 ? 8 : __builtin_ctzll(flags) >> 3;
      const int room = (64 - c.bits) >> 3;  // at least 4
      if (plain >= room) {
        c.buffer |= __builtin_bswap64(word) >> (64 - 8 * room) << (64 - 8 * room) >> c.bits;
        c.bits += 8 * room;
        c.next += uint32_t(room);
        return;
      }
    }
    c = fillSlowly(c);
  }

  // Receive(n) as a 16-bit value, for n above 16 (only damaged data has such sizes): the low 16
  // bits of the n bits read.
  __attribute__((always_inline)) uint32_t receiveLong(Cursor& c, int n) {
    uint32_t v = 0;
    while (n > 0) {
      const int chunk = n < 16 ? n : 16;
      fill(c);
      v = (v << chunk | c.take(chunk)) & 0xFFFF;
      n -= chunk;
    }
    return v;
  }

  // Restart-interval boundary: when the byte reader stands at FF Dx, skip the marker, drop the
  // buffered bits and return true.
  bool checkRestartMarker() {
    const uint32_t p = bytePosition(cursor_);
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
  State state(const Cursor& c) const {
    const int left = c.bits & 7;
    return {bytePosition(c), left, uint8_t(uint8_t(c.buffer >> 56) & uint8_t(0xFF00 >> left))};
  }

  // Where the one-byte reader would stand: after the last byte of which bits were used.
  uint32_t bytePosition() const { return bytePosition(cursor_); }

 private:
  static constexpr uint32_t kHistory = 16;
  // From fetch number firstSeq on, the byte reader stands at (fetch number + delta).
  struct Segment {
    uint32_t firstSeq;
    uint32_t delta;
  };

  uint32_t bytePosition(const Cursor& c) const {
    const uint32_t seq = c.next - delta_ - uint32_t(c.bits >> 3);
    for (uint32_t i = segments_; i-- > 0 && segments_ - i <= kHistory;) {
      const Segment& s = history_[i % kHistory];
      if (s.firstSeq <= seq) return seq + s.delta;
    }
    return seq + history_[0].delta;  // not reached: the history always covers the buffer
  }

  void restartAt(uint32_t p) {
    cursor_ = {0, 0, p};
    delta_ = p;
    history_[0] = {0, p};
    segments_ = 1;
  }

  // Fills the buffer past 56 bits byte by byte where needed: stuffed bytes, the end-of-image
  // marker, the end of the data.
  __attribute__((noinline)) Cursor fillSlowly(Cursor c) {
    while (c.bits <= 56) {
      if (c.next + 8 <= end_) {
        uint64_t word;
        std::memcpy(&word, data_ + c.next, 8);
        const uint64_t inverted = ~word;
        const uint64_t flags =
            (inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull;
        const int plain = flags == 0 ? 8 : __builtin_ctzll(flags) >> 3;
        const int room = (64 - c.bits) >> 3;
        const int n = plain < room ? plain : room;
        if (n > 0) {
          c.buffer |= __builtin_bswap64(word) >> (64 - 8 * n) << (64 - 8 * n) >> c.bits;
          c.bits += 8 * n;
          c.next += uint32_t(n);
          continue;
        }
      }
      fetchByte(c);
    }
    return c;
  }

  uint8_t nextByte(uint32_t& p) const {
    if (p >= end_) return data_[end_ - 1];
    if (data_[p] == 0xFF && p + 1 < end_ && data_[p + 1] == 0xD9) return data_[p - 1];
    return data_[p++];
  }

  void fetchByte(Cursor& c) {
    const uint32_t fetched = c.next - delta_ + 1;  // counting this one
    const uint8_t byte = nextByte(c.next);
    if (byte == 0xFF) nextByte(c.next);
    c.buffer |= uint64_t(byte) << (56 - c.bits);
    c.bits += 8;
    if (c.next - fetched != delta_) {
      delta_ = c.next - fetched;
      history_[segments_ % kHistory] = {fetched, delta_};
      ++segments_;
    }
  }

  const uint8_t* data_;
  uint32_t end_;
  Cursor cursor_ = {};
  uint32_t delta_ = 0;  // next byte minus bytes fetched since the start or the last restart
  Segment history_[kHistory] = {};
  uint32_t segments_ = 0;
};

}  // namespace jpeg
