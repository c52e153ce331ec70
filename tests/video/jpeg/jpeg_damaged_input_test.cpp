// Damaged or unusual headers and entropy-coded data that still have one exact result: sampling
// factors of 0 where no scan divides by them, frame headers that set fewer components than the
// scan uses, zero runs past the end of a block, and the picture size limit. Both decoders must
// give that result.
#include <gtest/gtest.h>

#include <initializer_list>

#include "jpeg_samples.h"
#include "jpeg_test_support.h"
#include "video/jpeg/idct.h"

namespace {

using jpegsamples::Options;

Options photo(int width, int height, int components, int lumaH = 2, int lumaV = 1) {
  return {
      .width = width, .height = height, .components = components, .lumaH = lumaH, .lumaV = lumaV};
}

size_t frameHeaderOf(const std::vector<uint8_t>& jpeg) {
  for (size_t p = 2; p + 4 <= jpeg.size(); p += 2 + (size_t(jpeg[p + 2]) << 8 | jpeg[p + 3]))
    if (jpeg[p + 1] == 0xC0) return p;
  ADD_FAILURE() << "no frame header";
  return 0;
}

// No picture; the size as the frame header gives it.
jpegtest::Outcome refused(int width, int height) {
  jpegtest::Outcome out;
  out.width = uint16_t(width);
  out.height = uint16_t(height);
  return out;
}

// Both decoders give the expected outcome, and the same one.
void expectDecoded(const std::vector<uint8_t>& jpeg, const jpegtest::Outcome& expected,
                   uint64_t pixelLimit = CJpegDecoder::kMaxPixels) {
  const auto fast = jpegtest::decodeFast(jpeg, pixelLimit);
  const auto reference = jpegtest::decodeReference(jpeg, pixelLimit);
  for (const auto* outcome : {&fast, &reference}) {
    SCOPED_TRACE(outcome == &fast ? "CJpegDecoder" : "reference decoder");
    EXPECT_EQ(outcome->decoded, expected.decoded);
    EXPECT_EQ(outcome->width, expected.width);
    EXPECT_EQ(outcome->height, expected.height);
    EXPECT_TRUE(outcome->picture == expected.picture);
  }
}

TEST(JpegDamagedInput, SamplingFactorZeroMattersOnlyToTheScansComponents) {
  // A grey image whose frame header gains a second component sampled 0 × 0, which the grey scan
  // never uses: the picture is the same.
  const auto grey = jpegsamples::makeJpeg(photo(48, 16, 1, 1, 1));
  const auto original = jpegtest::decodeFast(grey);
  ASSERT_TRUE(original.decoded);
  auto extended = grey;
  const size_t sof = frameHeaderOf(extended);
  ASSERT_EQ(extended[sof + 9], 1);
  extended[sof + 3] = uint8_t(extended[sof + 3] + 3);
  extended[sof + 9] = 2;
  const uint8_t unused[] = {2, 0x00, 0};
  extended.insert(extended.begin() + ptrdiff_t(sof + 13), std::begin(unused), std::end(unused));
  expectDecoded(extended, original);

  // Sampled 0 × 0 as the scan's own component: nothing to divide by, no picture.
  auto used = extended;
  used[sof + 11] = 0x00;
  used[sof + 14] = 0x11;
  expectDecoded(used, refused(48, 16));
}

TEST(JpegDamagedInput, ComponentsALaterFrameHeaderLeavesOutKeepTheirSettings) {
  // A second frame header with only the luminance component, then the three-component scan: the
  // chrominance components keep the sampling and tables of the first header.
  const auto colour = jpegsamples::makeJpeg(photo(48, 16, 3));
  const auto original = jpegtest::decodeFast(colour);
  ASSERT_TRUE(original.decoded);
  auto twice = colour;
  const size_t sof = frameHeaderOf(twice);
  const size_t sofEnd = sof + 2 + (size_t(twice[sof + 2]) << 8 | twice[sof + 3]);
  std::vector<uint8_t> lumaOnly(twice.begin() + ptrdiff_t(sof),
                                twice.begin() + ptrdiff_t(sof + 13));
  lumaOnly[3] = 11;  // segment length
  lumaOnly[9] = 1;   // one component
  twice.insert(twice.begin() + ptrdiff_t(sofEnd), lumaOnly.begin(), lumaOnly.end());
  expectDecoded(twice, original);

  // Components no header ever set have no sampling factors: no picture.
  auto neverSet = colour;
  neverSet[sof + 9] = 1;
  neverSet[sof + 3] = 11;
  neverSet.erase(neverSet.begin() + ptrdiff_t(sof + 13), neverSet.begin() + ptrdiff_t(sofEnd));
  expectDecoded(neverSet, refused(48, 16));
}

// A frame header that stands right after a scan header is read after that scan was decoded:
// the picture keeps its size, and width() and height() say that size, not the later header's,
// so a caller never reads past the picture (704 × 480 would be 1 MB from a 16 × 8 picture).
TEST(JpegDamagedInput, AFrameHeaderAfterTheScanLeavesThePictureItsSize) {
  const auto small = jpegsamples::makeJpeg(photo(16, 8, 3));
  size_t sos = 2;
  while (small[sos + 1] != 0xDA) sos += 2 + (size_t(small[sos + 2]) << 8 | small[sos + 3]);
  const size_t sosEnd = sos + 2 + (size_t(small[sos + 2]) << 8 | small[sos + 3]);
  const size_t sof = frameHeaderOf(small);
  std::vector<uint8_t> larger(
      small.begin() + ptrdiff_t(sof),
      small.begin() + ptrdiff_t(sof + 2 + (size_t(small[sof + 2]) << 8 | small[sof + 3])));
  larger[5] = 480 >> 8, larger[6] = 480 & 0xFF, larger[7] = 704 >> 8, larger[8] = 704 & 0xFF;
  auto late = small;
  late.insert(late.begin() + ptrdiff_t(sosEnd), larger.begin(), larger.end());
  for (const auto& outcome : {jpegtest::decodeFast(late), jpegtest::decodeReference(late)}) {
    ASSERT_TRUE(outcome.decoded);
    EXPECT_EQ(outcome.width, 16);
    EXPECT_EQ(outcome.height, 8);
    EXPECT_EQ(outcome.picture.size(), 16u * 8 * 3);
  }
}

// A grey baseline JPEG written symbol by symbol: quantisation all 1, a DC table with the codes
// 00 (size 0) and 01 (size 8), and an AC table of 2-bit codes: by default 00 (zero run of 16),
// 01 (end of block), 10 (run 0, size 1), so that zero-filled data never ends a block; with
// onesRun, 00 (end of block), 01 (run 0, size 1), 10 (run 1, size 1), 11 (zero run of 16), so
// that a byte 0xFF is four zero runs.
class HandMadeJpeg {
 public:
  explicit HandMadeJpeg(int blocksAcross, bool onesRun = false)
      : zeroRun_(onesRun ? 0b11 : 0b00),
        endOfBlock_(onesRun ? 0b00 : 0b01),
        coefficient_(onesRun ? 0b01 : 0b10) {
    bytes_ = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00};
    bytes_.insert(bytes_.end(), 64, 1);
    const uint8_t frame[] = {
        0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x08, 0x00, uint8_t(8 * blocksAcross),
        0x01, 0x01, 0x11, 0x00};
    bytes_.insert(bytes_.end(), std::begin(frame), std::end(frame));
    bytes_.insert(bytes_.end(), {0xFF, 0xC4, 0x00, uint8_t(2 + 19 + (onesRun ? 21 : 20))});
    huffmanTable(0x00, {0x00, 0x08});
    if (onesRun)
      huffmanTable(0x10, {0x00, 0x01, 0x11, 0xF0});
    else
      huffmanTable(0x10, {0xF0, 0x00, 0x01});
    bytes_.insert(bytes_.end(), {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00});
  }

  HandMadeJpeg& dc(int difference) {  // -255..-128 or 128..255
    bits(0b01, 2);
    return bits(uint32_t(difference < 0 ? difference + 255 : difference), 8);
  }
  HandMadeJpeg& zeroRuns(int count) {
    for (int i = 0; i < count; ++i) bits(zeroRun_, 2);
    return *this;
  }
  HandMadeJpeg& endOfBlock() { return bits(endOfBlock_, 2); }
  HandMadeJpeg& coefficient(bool positive) { return bits(coefficient_, 2).bits(positive, 1); }
  // A byte as it is, without stuffing, after zero bits up to the next byte boundary.
  HandMadeJpeg& raw(uint8_t byte) {
    if (count_ % 8 != 0) bits(0, 8 - count_ % 8);
    bytes_.push_back(byte);
    return *this;
  }

  // The data with its last byte filled up with 1 bits and the end-of-image marker.
  std::vector<uint8_t> finish() const {
    std::vector<uint8_t> out = bytes_;
    if (count_ > 0) put(out, uint8_t(pending_ << (8 - count_) | (0xFF >> count_)));
    out.insert(out.end(), {0xFF, 0xD9});
    return out;
  }

 private:
  void huffmanTable(uint8_t slot, std::initializer_list<uint8_t> symbols) {
    bytes_.push_back(slot);
    bytes_.push_back(0);
    bytes_.push_back(uint8_t(symbols.size()));  // all codes 2 bits long
    bytes_.insert(bytes_.end(), 14, 0);
    bytes_.insert(bytes_.end(), symbols);
  }
  HandMadeJpeg& bits(uint32_t value, uint32_t n) {
    pending_ = pending_ << n | value;
    count_ += n;
    for (; count_ >= 8; count_ -= 8) put(bytes_, uint8_t(pending_ >> (count_ - 8)));
    pending_ &= (1u << count_) - 1;
    return *this;
  }
  static void put(std::vector<uint8_t>& out, uint8_t byte) {
    out.push_back(byte);
    if (byte == 0xFF) out.push_back(0x00);
  }

  const uint32_t zeroRun_, endOfBlock_, coefficient_;
  std::vector<uint8_t> bytes_;
  uint32_t pending_ = 0, count_ = 0;
};

jpegtest::Outcome flatBlocks(std::initializer_list<int> dcValues) {
  jpegtest::Outcome out = refused(int(8 * dcValues.size()), 8);
  out.decoded = true;
  out.picture.resize(size_t(out.width) * 8 * 3);
  for (size_t p = 0; p < out.picture.size(); ++p)
    out.picture[p] = jpeg::dcOnlySample(int16_t(dcValues.begin()[p / 3 % out.width / 8]));
  return out;
}

TEST(JpegDamagedInput, ZeroRunsPastTheBlockEndChangeNothing) {
  // Zero runs take the first block past coefficient 63, some far past 1024; the end of block
  // after them ends it, and the second block reads on from there.
  for (int runs : {4, 63, 64, 70, 300}) {
    SCOPED_TRACE(testing::Message() << runs << " zero runs");
    const auto jpeg =
        HandMadeJpeg(2).dc(200).zeroRuns(runs).endOfBlock().dc(-200).endOfBlock().finish();
    expectDecoded(jpeg, flatBlocks({200, 0}));
  }
}

TEST(JpegDamagedInput, EndlessZeroRunAtTheEndOfTheDataStops) {
  // The data ends in zero bits and the reader repeats its last byte (0, or the zeros the
  // alignment step writes) for ever: every block is an endless zero run that ends when the
  // reader comes back to a state, and the blocks after the first add a DC difference of 0.
  for (int runs : {3, 7, 11, 15}) {  // the data ends byte-aligned, at every length modulo 4
    SCOPED_TRACE(testing::Message() << runs << " zero runs");
    const auto jpeg = HandMadeJpeg(3).dc(-151).zeroRuns(runs).finish();
    ASSERT_EQ(jpeg[jpeg.size() - 3], 0x00);
    expectDecoded(jpeg, flatBlocks({-151, -151, -151}));
  }
}

// A run that reaches the end inside a byte 0xFF: the reader stands still, first on the rest of
// that byte, then on the repeated byte after it, whose bits follow at the same positions in
// the byte but are different bits. Every such byte gives both decoders the same picture.
TEST(JpegDamagedInput, RunIntoARepeatedStuffedByteAgrees) {
  for (int repeated = 0; repeated < 256; ++repeated) {
    SCOPED_TRACE(testing::Message() << "repeated byte " << repeated);
    const auto jpeg =
        HandMadeJpeg(3, true).dc(-150).zeroRuns(3).raw(0xFF).raw(uint8_t(repeated)).finish();
    expectDecoded(jpeg, jpegtest::decodeReference(jpeg));
  }
}

// Where an endless run is cut decides where the next block starts reading: random symbol
// streams that end in random bytes (stuffing, markers, a last byte 0xFF whose stuffed byte is
// repeated) give both decoders the same picture.
TEST(JpegDamagedInput, RandomRunsIntoTheEndOfTheDataAgree) {
  uint32_t state = 7;
  auto next = [&state](uint32_t n) {
    return (state = state * 1664525u + 1013904223u) >> 8 & (n - 1);
  };
  const uint8_t tails[] = {0x00, 0xFF, 0x01, 0x02, 0x04, 0x08, 0x10, 0x40,
                           0x80, 0x3F, 0xC0, 0xF3, 0x22, 0xD9, 0xFC, 0x33};
  for (int round = 0; round < 600; ++round) {
    HandMadeJpeg jpeg(1 + int(next(4)), round % 2 == 1);
    jpeg.dc(next(2) ? 150 : -150);
    for (uint32_t symbols = next(32); symbols-- > 0;) {
      const uint32_t kind = next(8);
      if (kind < 5)
        jpeg.zeroRuns(1);
      else if (kind < 7)
        jpeg.coefficient(next(2));
      else
        jpeg.endOfBlock().dc(next(2) ? 130 : -130);
    }
    for (uint32_t n = next(8); n-- > 0;) jpeg.raw(tails[next(4) == 0 ? next(16) : next(2)]);
    const auto bytes = jpeg.finish();
    SCOPED_TRACE(testing::Message() << "round " << round);
    expectDecoded(bytes, jpegtest::decodeReference(bytes));
  }
}

TEST(JpegDamagedInput, PicturesAreLimitedByAreaNotBySide) {
  // 8200 × 8 is far below 8192 × 8192 pixels.
  const auto wide = jpegsamples::makeJpeg(photo(8200, 8, 3));
  const auto decoded = jpegtest::decodeFast(wide);
  ASSERT_TRUE(decoded.decoded);
  EXPECT_EQ(decoded.width, 8208);
  expectDecoded(wide, decoded);

  // Sizes are taken after rounding to whole 16 × 8 MCUs: 4096 pixels fit a limit of 4096, one
  // more row of pixels (a whole row of MCUs) doesn't.
  for (const auto& [width, height, fits] : {std::tuple{128, 32, true},
                                            {512, 8, true},
                                            {16, 256, true},
                                            {128, 33, false},
                                            {4096, 8, false}}) {
    SCOPED_TRACE(testing::Message() << width << "x" << height);
    const auto jpeg = jpegsamples::makeJpeg(photo(width, height, 3));
    const auto unlimited = jpegtest::decodeFast(jpeg);
    ASSERT_TRUE(unlimited.decoded);
    expectDecoded(jpeg, fits ? unlimited : refused(width, height), 4096);
  }

  // Headers edited to 8200 × 8200 pixels, and to a width that rounds up beyond 16 bits.
  const auto small = jpegsamples::makeJpeg(photo(48, 16, 3));
  const size_t sof = frameHeaderOf(small);
  for (const auto& [width, height] : {std::pair{8200, 8200}, {65535, 8}}) {
    auto edited = small;
    edited[sof + 5] = uint8_t(height >> 8), edited[sof + 6] = uint8_t(height);
    edited[sof + 7] = uint8_t(width >> 8), edited[sof + 8] = uint8_t(width);
    expectDecoded(edited, refused(width, height));
  }
}

}  // namespace
