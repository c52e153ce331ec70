#include "audio/adpcm_decoder.h"

#include <gtest/gtest.h>
#include <spandsp.h>

#include <random>
#include <vector>

#include "g726_reference.h"

namespace {

std::vector<int16_t> decodeAll(CAdpcmDecoder& decoder, const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> out(
      static_cast<size_t>(CAdpcmDecoder::sampleCount(static_cast<uint32_t>(bytes.size()))));
  EXPECT_EQ(decoder.decode(bytes.data(), static_cast<uint32_t>(bytes.size()), out.data(),
                           static_cast<int64_t>(out.size())),
            static_cast<int32_t>(out.size()));
  return out;
}

TEST(AdpcmUnpack, CodesComeLeastSignificantBitFirst) {
  const uint8_t packed[3] = {0x88, 0xC6, 0xFA};
  uint8_t codes[8] = {};
  CAdpcmDecoder::unpackCodes(packed, 3, codes);
  for (uint8_t k = 0; k < 8; ++k) EXPECT_EQ(codes[k], k);

  // Tails: one byte gives bits 0-2 and 3-5; two bytes give the first five codes of a group.
  const uint8_t one[1] = {0b11'101'011};
  uint8_t tail[5] = {};
  CAdpcmDecoder::unpackCodes(one, 1, tail);
  EXPECT_EQ(tail[0], 3);
  EXPECT_EQ(tail[1], 5);
  CAdpcmDecoder::unpackCodes(packed, 2, tail);
  for (uint8_t k = 0; k < 5; ++k) EXPECT_EQ(tail[k], k);
}

TEST(AdpcmDecoder, SampleCountFollowsTheLength) {
  CAdpcmDecoder decoder;
  const uint8_t data[7] = {1, 2, 3, 4, 5, 6, 7};
  int16_t out[32];
  EXPECT_EQ(decoder.decode(data, 0, out, 32), 0);
  EXPECT_EQ(decoder.decode(data, 1, out, 32), 2);
  EXPECT_EQ(decoder.decode(data, 2, out, 32), 5);
  EXPECT_EQ(decoder.decode(data, 3, out, 32), 8);
  EXPECT_EQ(decoder.decode(data, 7, nullptr, 0), 18);  // size query
  EXPECT_EQ(decoder.decode(data, 600, nullptr, 0), 1600);
  // A length whose count does not fit the result is refused, not wrapped.
  EXPECT_EQ(decoder.decode(data, 0xFFFFFFFFu, nullptr, 0), -1);
}

TEST(AdpcmDecoder, TooSmallCapacityDecodesNothing) {
  CAdpcmDecoder decoder;
  const uint8_t warmUp[3] = {0x13, 0x57, 0x9B};
  int16_t out[8];
  ASSERT_EQ(decoder.decode(warmUp, 3, out, 8), 8);
  const AdpcmState before = decoder.state();

  std::vector<int16_t> guard(8, 0x1234);
  EXPECT_EQ(decoder.decode(warmUp, 3, guard.data(), 7), -1);
  EXPECT_EQ(decoder.state(), before);
  for (int16_t v : guard) EXPECT_EQ(v, 0x1234);
  EXPECT_EQ(decoder.decode(warmUp, 1, guard.data(), 1), -1);
  EXPECT_EQ(decoder.state(), before);
}

TEST(AdpcmDecoder, SingleCodesFromTheInitialState) {
  const int16_t expected[8] = {0, 16, 36, 60, -60, -36, -16, 0};
  for (uint8_t code = 0; code < 8; ++code) {
    AdpcmState state;
    EXPECT_EQ(CAdpcmDecoder::decodeSample(code, state), expected[code]) << int(code);
    AdpcmState masked;
    EXPECT_EQ(CAdpcmDecoder::decodeSample(static_cast<uint8_t>(code | 0xF8), masked),
              expected[code]);
  }
}

TEST(AdpcmDecoder, AdaptationStaysWithinItsLimits) {
  std::mt19937 rng(7);
  AdpcmState state;
  // Uniform codes, then extremes that push the step size and the poles to their limits.
  for (int i = 0; i < 400000; ++i) {
    uint8_t code = static_cast<uint8_t>(rng() & 7);
    if (i >= 200000) code = (i / 5000) % 2 ? 3 : ((i % 2) ? 3 : 4);
    if (i >= 300000) code = static_cast<uint8_t>((i / 3) % 2 ? 0 : 7);
    CAdpcmDecoder::decodeSample(code, state);
    ASSERT_GE(state.yu, 544);
    ASSERT_LE(state.yu, 5120);
    ASSERT_GE(state.a[1], -12288);
    ASSERT_LE(state.a[1], 12288);
  }
}

TEST(AdpcmDecoder, StateCarriesAcrossCalls) {
  std::mt19937 rng(11);
  std::vector<uint8_t> bytes(1202);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  CAdpcmDecoder whole;
  const auto one = decodeAll(whole, bytes);

  CAdpcmDecoder split;
  const std::vector<uint8_t> first(bytes.begin(), bytes.begin() + 300);
  const std::vector<uint8_t> second(bytes.begin() + 300, bytes.end());
  auto two = decodeAll(split, first);
  const auto rest = decodeAll(split, second);
  two.insert(two.end(), rest.begin(), rest.end());
  EXPECT_EQ(one, two);
  EXPECT_EQ(whole.state(), split.state());
}

// Code streams of many kinds, decoded by spandsp's bit-exact G.726 decoder (one code per byte) and
// by CAdpcmDecoder from the packed bytes: every sample must agree.
TEST(AdpcmDecoder, AgreesWithSpandspSampleForSample) {
  std::mt19937 rng(2024);
  std::vector<std::vector<uint8_t>> streams;

  std::vector<uint8_t> random(1'200'000);
  for (auto& c : random) c = static_cast<uint8_t>(rng() & 7);
  streams.push_back(random);

  // Codes from spandsp's encoder for silence, ramps, tones, noise bursts and full-scale squares.
  std::vector<int16_t> signal;
  signal.insert(signal.end(), 80000, 0);
  for (int i = 0; i < 160000; ++i) signal.push_back(static_cast<int16_t>((i * 37) % 65536 - 32768));
  for (double hz : {300.0, 1000.0, 3400.0}) {
    const auto t = reference::tone(hz, 12000, 80000);
    signal.insert(signal.end(), t.begin(), t.end());
  }
  for (int burst = 0; burst < 40; ++burst) {
    std::normal_distribution<double> noise(0, burst % 2 ? 8000 : 30);
    for (int i = 0; i < 4000; ++i)
      signal.push_back(static_cast<int16_t>(std::clamp(noise(rng), -32768.0, 32767.0)));
  }
  for (int i = 0; i < 160000; ++i) signal.push_back((i / 13) % 2 ? 32767 : -32768);
  const auto speech = reference::speechLike(400000, 5);
  signal.insert(signal.end(), speech.begin(), speech.end());
  streams.push_back(reference::g726Encode(24000, G726_PACKING_NONE, signal));

  // Long runs of single codes, which drive the predictor into its limits and the tone detector.
  std::vector<uint8_t> runs;
  for (int run = 0; run < 400; ++run)
    runs.insert(runs.end(), 1 + rng() % 2000, static_cast<uint8_t>(rng() & 7));
  streams.push_back(runs);

  size_t total = 0;
  for (auto codes : streams) {
    codes.resize(codes.size() / 8 * 8);
    const auto expected = reference::g726Decode(24000, G726_PACKING_NONE, codes);
    CAdpcmDecoder decoder;
    const auto actual = decodeAll(decoder, reference::pack3(codes));
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
      ASSERT_EQ(actual[i], expected[i]) << "stream " << total << " sample " << i;
    total += expected.size();
  }
  EXPECT_GT(total, 2'500'000u);
}

// spandsp's right-aligned packing is the same bit order the decoder unpacks.
TEST(AdpcmDecoder, DecodesSpandspPackedStreams) {
  const auto source = reference::tone(1000, 8000, 16000);
  const auto packed = reference::g726Encode(24000, G726_PACKING_RIGHT, source);
  ASSERT_EQ(packed.size(), 6000u);
  CAdpcmDecoder decoder;
  const auto decoded = decodeAll(decoder, packed);
  EXPECT_EQ(decoded, reference::g726Decode(24000, G726_PACKING_RIGHT, packed));
  EXPECT_GT(reference::snrDb(source, decoded, 800), 10.0);
}

}  // namespace
