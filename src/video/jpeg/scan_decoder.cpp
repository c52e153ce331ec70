#include "video/jpeg/scan_decoder.h"

#include <array>
#include <cstring>
#include <vector>

#include "video/jpeg/bit_reader.h"
#include "video/jpeg/colour_convert.h"
#include "video/jpeg/idct.h"
#include "video/jpeg/scaled_idct.h"

namespace jpeg {
namespace {

// Row-major position of the n-th coefficient in zig-zag order (T.81 Figure A.6).
constexpr uint8_t kNaturalOrder[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// Where the inverse DCT wants the n-th coefficient in zig-zag order: column by column.
constexpr std::array<uint8_t, 64> makeColumnOrder() {
  std::array<uint8_t, 64> order{};
  for (size_t n = 0; n < 64; ++n)
    order[n] = uint8_t(kNaturalOrder[n] % 8 * 8 + kNaturalOrder[n] / 8);
  return order;
}
constexpr std::array<uint8_t, 64> kZigZag = makeColumnOrder();

// An order with one unused entry in front: entry n + 1 is the place of the n-th coefficient, so
// the AC loop, which counts the position after the last coefficient, indexes it directly.
constexpr std::array<uint8_t, 65> padded(const std::array<uint8_t, 64>& order) {
  std::array<uint8_t, 65> out{};
  for (size_t n = 0; n < 64; ++n) out[n + 1] = order[n];
  return out;
}
constexpr std::array<uint8_t, 65> kColumnOrderAfter = padded(kZigZag);
// Row by row: the order the reduced transforms take.
constexpr std::array<uint8_t, 65> kRowOrderAfter = padded([] {
  std::array<uint8_t, 64> order{};
  for (size_t n = 0; n < 64; ++n) order[n] = kNaturalOrder[n];
  return order;
}());

// Zero runs past coefficient 63 change nothing and go on until another symbol ends the block.
// Only a reader standing at the end of the data, repeating its last byte, can come back to a
// state; a zero run that starts in a state one of the same block already started in would
// repeat forever, so the block ends before it. The reader never moves back within a block, and
// at one position it has at most 15 states.
class EndlessRunGuard {
 public:
  bool repeats(const BitReader::State& now) {
    if (count_ > 0 && seen_[0].position != now.position) count_ = 0;
    for (int k = 0; k < count_; ++k)
      if (seen_[k] == now) return true;
    if (count_ == kStates) return true;
    seen_[count_++] = now;
    return false;
  }

 private:
  static constexpr int kStates = 16;
  BitReader::State seen_[kStates];
  int count_ = 0;
};

class ScanDecoder {
 public:
  ScanDecoder(const Scan& scan, uint8_t* picture)
      : scan_(scan),
        picture_(picture),
        reader_(scan.data, scan.start, scan.end),
        inverseDct_(selectInverseDct()) {}

  uint32_t run() {
    bool covered = true;
    for (int k = 0; k < scan_.componentCount; ++k) {
      const ScanComponent& c = scan_.components[k];
      covered = covered && (scan_.hmax / c.h) * c.h == scan_.hmax &&
                (scan_.vmax / c.v) * c.v == scan_.vmax;
    }
    if (covered)
      decodeByRows();
    else
      decodeThroughMcuBuffer();
    return reader_.bytePosition();
  }

  // Every block to size × size samples in its component's plane.
  uint32_t runToPlanes(const Planes& planes) {
    const ScaledInverseDctFn inverseDct4x4 = selectInverseDct4x4();
    const ScaledInverseDctFn inverseDct2x2 = selectInverseDct2x2();
    for (uint32_t cy = 0; cy < mcuRows(); ++cy) {
      for (uint32_t cx = 0; cx < mcusAcross(); ++cx) {
        for (int k = 0; k < scan_.componentCount; ++k) {
          const ScanComponent& c = scan_.components[k];
          const int size = planes.size[k];
          const ScaledInverseDctFn reduced = size == 4   ? inverseDct4x4
                                             : size == 2 ? inverseDct2x2
                                                         : nullptr;
          const size_t stride = size_t(planes.stride[k]);
          uint8_t* mcu = planes.samples[k] + size_t(cy) * size_t(c.v * size) * stride +
                         size_t(cx) * size_t(c.h * size);
          for (int by = 0; by < c.v; ++by)
            for (int bx = 0; bx < c.h; ++bx)
              decodeReducedBlock(k, mcu + size_t(by * size) * stride + size_t(bx * size),
                                 int(stride), size, reduced);
        }
        afterMcu();
      }
    }
    return reader_.bytePosition();
  }

 private:
  uint32_t mcusAcross() const { return scan_.width / 8 / uint32_t(scan_.hmax); }
  uint32_t mcuRows() const { return scan_.height / 8 / uint32_t(scan_.vmax); }

  void afterMcu() {
    if (scan_.restartInterval == 0 || ++mcuCount_ != scan_.restartInterval) return;
    mcuCount_ = 0;
    if (reader_.checkRestartMarker()) predictions_[0] = predictions_[1] = predictions_[2] = 0;
  }

  // The symbol of a code the look-up entry doesn't finish: one that leaves its extra bits to
  // the caller, or one longer than kLookupBits bits, searched bit by bit through maxcode. A
  // sequence that matches no code of up to 16 bits uses 16 bits and gives symbol 0. Needs 16
  // bits buffered.
  static int slowSymbol(BitReader::Cursor& c, const HuffmanTable& table, uint32_t entry) {
    if (lookup::consumed(entry) != 0) {
      c.skip(lookup::consumed(entry));
      return lookup::symbol(entry);
    }
    for (int n = kLookupBits + 1; n <= 16; ++n) {
      const uint32_t code = c.peek(n);
      if (table.matches(n, code)) {
        c.skip(n);
        return table.symbolFor(n, code);
      }
    }
    c.skip(16);
    return 0;
  }

  // Decodes one block of component k into coefficients_ (dequantised, placed by kOrderAfter:
  // column by column, or row by row); with kAc false the AC coefficients are read past but not
  // kept. Returns false when no AC coefficient was coded.
  template <bool kAc = true, const std::array<uint8_t, 65>& kOrderAfter = kColumnOrderAfter>
  __attribute__((always_inline)) bool decodeCoefficients(int k) {
    const ScanComponent& component = scan_.components[k];
    const uint8_t* q = component.quant;
    const uint8_t* order = kOrderAfter.data() + 1;
    BitReader::Cursor c = reader_.cursor();
    // After a fill, a code (up to 16 bits) and its extra bits (up to 15) are in the buffer.
    reader_.fill(c);
    int difference;
    const uint32_t dc = component.dc->fast[c.peek(kLookupBits)];
    if ((dc & lookup::kKindMask) == lookup::kValue) {
      c.skip(lookup::consumed(dc));
      difference = lookup::value(dc);
    } else {
      const int t = slowSymbol(c, *component.dc, dc);
      const uint32_t bits = t == 0 ? 0 : t <= 16 ? c.take(t) : reader_.receiveLong(c, t);
      difference = HuffmanTable::extend(bits, t);
    }
    predictions_[k] = int16_t(predictions_[k] + difference);
    coefficients_[0] = int16_t(predictions_[k] * q[0]);

    const uint32_t* ac = component.ac->fast;
    // next: the position after the last coefficient; the one a step lands on is next - 1, whose
    // place and quantiser are kOrderAfter[next] and qBefore[next] (the table's byte in front of
    // it belongs to the same array).
    const uint8_t* qBefore = q - 1;
    uint32_t next = 1;
    for (;;) {
      reader_.fill(c);
      const uint32_t entry = ac[c.peek(kLookupBits)];
      if ((entry & lookup::kKindMask) == lookup::kValue) [[likely]] {  // code and value at once
        next += lookup::step(entry);
        if (next >= 64) [[unlikely]] {
          if (next > 64) {  // beyond coefficient 63: the extra bits stay unread
            c.skip(lookup::codeLength(entry));
            break;
          }
          c.skip(lookup::consumed(entry));
          if constexpr (kAc) coefficients_[order[63]] = int16_t(lookup::value(entry) * q[63]);
          break;
        }
        // The kind bits are 0, so the low 6 bits are the count: the shift needs no mask.
        c.buffer <<= entry & 63;
        c.bits -= lookup::consumed(entry);
        if constexpr (kAc)
          coefficients_[kOrderAfter[next]] = int16_t(lookup::value(entry) * qBefore[next]);
        continue;
      }
      if ((entry & lookup::kKindMask) == lookup::kEnd) {
        c.skip(lookup::consumed(entry));
        break;
      }
      if ((entry & lookup::kKindMask) == lookup::kSymbol && lookup::consumed(entry) != 0) {
        // The code is known; its extra bits don't fit the look-up (size 1..15: sizes of 0 are
        // the other kinds).
        c.skip(lookup::consumed(entry));
        next += uint32_t(lookup::symbol(entry) >> 4);
        if (next > 63) break;
        const int size = lookup::symbol(entry) & 15;
        const int value = HuffmanTable::extendSized(c.take(size), size);
        if constexpr (kAc) coefficients_[order[next]] = int16_t(value * q[next]);
        if (next++ == 63) break;
        continue;
      }
      // Passed by value, so that the loop's cursor and position stay in registers.
      const AcStep step = acSymbol(c, *component.ac, entry, kAc ? q : nullptr, order, int(next));
      c = step.cursor;
      next = uint32_t(step.i);
      if (!step.more) break;
    }
    reader_.setCursor(c);
    // Only zero runs and no coefficient also come here with next above 1: the full transform of
    // a block with only its DC value gives the DC-only samples.
    return next > 1;
  }

  struct AcStep {
    BitReader::Cursor cursor;
    int i;
    bool more;  // false: the block ends
  };
  // An AC symbol the look-up entry doesn't finish: a zero run, or a code or value too long for
  // it. i: the position of the next coefficient. q null: the coefficient is not kept; order:
  // where it goes.
  __attribute__((noinline)) AcStep acSymbol(BitReader::Cursor c, const HuffmanTable& table,
                                            uint32_t entry, const uint8_t* q, const uint8_t* order,
                                            int i) {
    int rs = 0xF0;
    if ((entry & lookup::kKindMask) == lookup::kZeroRun)
      c.skip(lookup::consumed(entry));
    else
      rs = slowSymbol(c, table, entry);
    const int run = rs >> 4, size = rs & 15;
    if (size != 0) {
      i += run;
      if (i > 63) return {c, i, false};
      const int value = HuffmanTable::extendSized(c.take(size), size);
      if (q != nullptr) coefficients_[order[i]] = int16_t(value * q[i]);
      if (i == 63) return {c, i, false};
      return {c, i + 1, true};
    }
    if (run != 15) return {c, i, false};
    if (i + 16 > 63) {                               // damaged data
      if (i <= 63) endlessRun_ = EndlessRunGuard();  // the block's first run past its end
      i = 64;
      if (endlessRun_.repeats(reader_.state(c))) return {c, i, false};
    } else {
      i += 16;
    }
    return {c, i, true};
  }

  // Out of line: inside the MCU loops the block loop runs short of registers.
  __attribute__((noinline)) void decodeBlock(int k, uint8_t* out, int stride) {
    if (decodeCoefficients(k)) {
      inverseDct_(coefficients_, out, stride);  // also clears the coefficients
    } else {
      const uint8_t sample = dcOnlySample(coefficients_[0]);
      for (int row = 0; row < 8; ++row) std::memset(out + row * stride, sample, 8);
      coefficients_[0] = 0;
    }
  }

  // A block at size × size samples: 8 the full transform, 4 and 2 the reduced ones, 1 the DC
  // value alone (the AC coefficients are only read past). reduced: the transform for sizes 4
  // and 2. Out of line, as decodeBlock.
  __attribute__((noinline)) void decodeReducedBlock(int k, uint8_t* out, int stride, int size,
                                                    ScaledInverseDctFn reduced) {
    if (size == 8) {
      decodeBlock(k, out, stride);
      return;
    }
    if (size == 1) {
      decodeCoefficients<false>(k);
      *out = reducedDcSample(coefficients_[0]);
      coefficients_[0] = 0;
      return;
    }
    if (decodeCoefficients<true, kRowOrderAfter>(k)) {
      reduced(coefficients_, out, stride);
      return;
    }
    const uint8_t sample = reducedDcSample(coefficients_[0]);
    coefficients_[0] = 0;
    for (int row = 0; row < size; ++row) std::memset(out + row * stride, sample, size_t(size));
  }

  // Every component fills its MCU area exactly: blocks go to per-component sample rows for one
  // MCU row, which are then converted straight into the picture.
  void decodeByRows() {
    const int ns = scan_.componentCount;
    const uint32_t across = mcusAcross();
    std::vector<uint8_t> planes[3];
    int planeWidth[3], repeatX[3], repeatY[3];
    for (int k = 0; k < ns; ++k) {
      const ScanComponent& c = scan_.components[k];
      planeWidth[k] = int(across) * 8 * c.h;
      repeatX[k] = scan_.hmax / c.h;
      repeatY[k] = scan_.vmax / c.v;
      planes[k].resize(size_t(planeWidth[k]) * 8 * size_t(c.v));
    }
    const ConvertRowFn convert = ns == 3 && repeatX[0] == 1 && repeatX[1] == repeatX[2]
                                     ? selectConvertRow(repeatX[1])
                                     : convertRowScalar;
    const int width = int(scan_.width), rowsPerMcu = 8 * scan_.vmax;
    for (uint32_t cy = 0; cy < mcuRows(); ++cy) {
      for (uint32_t cx = 0; cx < across; ++cx) {
        for (int k = 0; k < ns; ++k) {
          const ScanComponent& c = scan_.components[k];
          for (int by = 0; by < c.v; ++by)
            for (int bx = 0; bx < c.h; ++bx)
              decodeBlock(k,
                          planes[k].data() + size_t(by) * 8 * size_t(planeWidth[k]) +
                              (cx * uint32_t(c.h) + uint32_t(bx)) * 8,
                          planeWidth[k]);
        }
        afterMcu();
      }
      for (int y = 0; y < rowsPerMcu; ++y) {
        uint8_t* out = picture_ + (size_t(cy) * size_t(rowsPerMcu) + size_t(y)) * size_t(width) * 3;
        auto row = [&](int k) {
          return planes[k].data() + size_t(y / repeatY[k]) * size_t(planeWidth[k]);
        };
        if (ns == 3)
          convert({row(0), row(1), row(2), repeatX[0], repeatX[1], repeatX[2]}, out, width);
        else
          greyRow(row(0), repeatX[0], out, width);
      }
    }
  }

  // Sampling factors that don't divide the largest ones leave parts of the MCU to a component's
  // samples of the previous MCU: decode through one MCU buffer, as the format's plain reading
  // does, then convert the whole picture.
  void decodeThroughMcuBuffer() {
    const int ns = scan_.componentCount;
    const uint32_t W = 8u * uint32_t(scan_.hmax), mcuHeight = 8u * uint32_t(scan_.vmax);
    const uint32_t width = scan_.width;
    std::vector<uint8_t> mcu(size_t(W) * mcuHeight * 3, 0);
    uint8_t samples[64];
    for (uint32_t cy = 0; cy < mcuRows(); ++cy) {
      for (uint32_t cx = 0; cx < mcusAcross(); ++cx) {
        for (int k = 0; k < ns; ++k) {
          const ScanComponent& c = scan_.components[k];
          const uint32_t rh = uint32_t(scan_.hmax / c.h), rv = uint32_t(scan_.vmax / c.v);
          for (uint32_t by = 0; by < uint32_t(c.v); ++by) {
            for (uint32_t bx = 0; bx < uint32_t(c.h); ++bx) {
              decodeBlock(k, samples, 8);
              for (uint32_t i = 0; i < 8; ++i)
                for (uint32_t j = 0; j < 8; ++j)
                  for (uint32_t b = 0; b < rv; ++b)
                    for (uint32_t a = 0; a < rh; ++a) {
                      const uint32_t x = 8 * rh * bx + rh * j + a, y = 8 * rv * by + rv * i + b;
                      mcu[3 * (y * W + x) + uint32_t(k)] = samples[i * 8 + j];
                    }
            }
          }
        }
        for (uint32_t y = 0; y < mcuHeight; ++y)
          for (uint32_t x = 0; x < W; ++x)
            std::memcpy(picture_ + ((mcuHeight * cy + y) * width + W * cx + x) * uint32_t(ns),
                        &mcu[3 * (y * W + x)], size_t(ns));
        afterMcu();
      }
    }
    const size_t pixels = size_t(width) * scan_.height;
    if (ns == 3) {
      for (size_t p = 0; p < pixels; ++p)
        convertPixel(picture_[3 * p], picture_[3 * p + 1], picture_[3 * p + 2], picture_ + 3 * p);
    } else {
      for (size_t p = pixels; p-- > 0;)
        picture_[3 * p] = picture_[3 * p + 1] = picture_[3 * p + 2] = picture_[p];
    }
  }

  const Scan& scan_;
  uint8_t* picture_;
  BitReader reader_;
  InverseDctFn inverseDct_;
  int16_t predictions_[3] = {};
  uint32_t mcuCount_ = 0;
  EndlessRunGuard endlessRun_;  // of the block being decoded
  alignas(32) int16_t coefficients_[64] = {};
};

}  // namespace

bool samplingCovered(const Scan& scan) {
  for (int k = 0; k < scan.componentCount; ++k) {
    const ScanComponent& c = scan.components[k];
    if ((scan.hmax / c.h) * c.h != scan.hmax || (scan.vmax / c.v) * c.v != scan.vmax) return false;
  }
  return true;
}

uint32_t decodeScan(const Scan& scan, uint8_t* picture) {
  return ScanDecoder(scan, picture).run();
}

uint32_t decodeScanToPlanes(const Scan& scan, const Planes& planes) {
  return ScanDecoder(scan, nullptr).runToPlanes(planes);
}

}  // namespace jpeg
