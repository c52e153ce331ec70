#include "audio/adpcm_decoder.h"

#include <gtest/gtest.h>
#include <spandsp.h>

#include <algorithm>
#include <random>
#include <vector>

#include "g726_reference.h"
#include "test_helpers.h"

namespace {

std::vector<int16_t> decodeAll(CAdpcmDecoder& decoder, const uint8_t* bytes, size_t n) {
  std::vector<int16_t> out(
      static_cast<size_t>(CAdpcmDecoder::sampleCount(static_cast<uint32_t>(n))));
  EXPECT_EQ(
      decoder.decode(bytes, static_cast<uint32_t>(n), out.data(), static_cast<int64_t>(out.size())),
      static_cast<int32_t>(out.size()));
  return out;
}

TEST(AdpcmUnpack, CodesComeLeastSignificantBitFirst) {
  const uint8_t packed[3] = {0x88, 0xC6, 0xFA};
  const uint8_t one[1] = {0b11'101'011};
  // Whole groups, then tails: two bytes give five codes, one byte bits 0-2 and 3-5.
  const struct {
    const uint8_t* bytes;
    uint32_t length;
    std::vector<uint8_t> codes;
  } cases[] = {
      {packed, 3, {0, 1, 2, 3, 4, 5, 6, 7}}, {packed, 2, {0, 1, 2, 3, 4}}, {one, 1, {3, 5}}};
  for (const auto& c : cases) {
    std::vector<uint8_t> codes(8, 0xEE);
    CAdpcmDecoder::unpackCodes(c.bytes, c.length, codes.data());
    codes.resize(c.codes.size());
    EXPECT_EQ(codes, c.codes) << c.length;
  }
}

TEST(AdpcmDecoder, SampleCountAndCapacity) {
  CAdpcmDecoder decoder;
  const uint8_t data[7] = {0x13, 0x57, 0x9B, 4, 5, 6, 7};
  int16_t out[32];
  for (auto [length, count] : {std::pair{0u, 0}, {1u, 2}, {2u, 5}, {3u, 8}})
    EXPECT_EQ(decoder.decode(data, length, out, 32), count) << length;
  EXPECT_EQ(decoder.decode(data, 7, nullptr, 0), 18);  // size queries
  EXPECT_EQ(decoder.decode(data, 600, nullptr, 0), 1600);
  // A length whose count does not fit the result is refused, not wrapped.
  EXPECT_EQ(decoder.decode(data, 0xFFFFFFFFu, nullptr, 0), -1);

  // One slot too few decodes nothing: neither the state nor the output changes.
  const AdpcmState before = decoder.state();
  std::vector<int16_t> guard(8, 0x1234);
  EXPECT_EQ(decoder.decode(data, 3, guard.data(), 7), -1);
  EXPECT_EQ(decoder.decode(data, 1, guard.data(), 1), -1);
  EXPECT_EQ(decoder.state(), before);
  EXPECT_EQ(guard, std::vector<int16_t>(8, 0x1234));
}

TEST(AdpcmDecoder, SingleCodesFromTheInitialState) {
  const int16_t expected[8] = {0, 16, 36, 60, -60, -36, -16, 0};
  for (uint8_t code = 0; code < 8; ++code) {
    AdpcmState state, masked;
    EXPECT_EQ(CAdpcmDecoder::decodeSample(code, state), expected[code]) << int(code);
    EXPECT_EQ(CAdpcmDecoder::decodeSample(static_cast<uint8_t>(code | 0xF8), masked),
              expected[code]);
  }
}

TEST(AdpcmDecoder, StateCarriesAcrossCalls) {
  const auto bytes = randomBytes(1202, 11);
  CAdpcmDecoder whole, split;
  const auto one = decodeAll(whole, bytes.data(), bytes.size());
  auto two = decodeAll(split, bytes.data(), 300);
  const auto rest = decodeAll(split, bytes.data() + 300, bytes.size() - 300);
  two.insert(two.end(), rest.begin(), rest.end());
  EXPECT_EQ(one, two);
  EXPECT_EQ(whole.state(), split.state());
}

// Code streams of many kinds, decoded by spandsp's bit-exact G.726 decoder (one code per byte) and
// by CAdpcmDecoder from the packed bytes: every sample must agree, and the step size and the
// first pole stay within their limits all along.
TEST(AdpcmDecoder, AgreesWithSpandspSampleForSample) {
  std::mt19937 rng(2024);
  std::vector<std::vector<uint8_t>> streams{randomBytes(1'200'000, 2024, 7)};

  // Codes from spandsp's encoder for silence, ramps, tones, noise bursts and full-scale squares.
  std::vector<int16_t> signal(80000, 0);
  const auto append = [&](const std::vector<int16_t>& part) {
    signal.insert(signal.end(), part.begin(), part.end());
  };
  for (int i = 0; i < 160000; ++i) signal.push_back(static_cast<int16_t>((i * 37) % 65536 - 32768));
  for (double hz : {300.0, 1000.0, 3400.0}) append(reference::tone(hz, 12000, 80000));
  for (int burst = 0; burst < 40; ++burst) {
    std::normal_distribution<double> noise(0, burst % 2 ? 8000 : 30);
    for (int i = 0; i < 4000; ++i)
      signal.push_back(static_cast<int16_t>(std::clamp(noise(rng), -32768.0, 32767.0)));
  }
  for (int i = 0; i < 160000; ++i) signal.push_back((i / 13) % 2 ? 32767 : -32768);
  append(reference::speechLike(400000, 5));
  streams.push_back(reference::g726Encode(24000, G726_PACKING_NONE, signal));

  // Long runs of single codes and alternating extremes, which drive the step size and the
  // predictor into their limits and the tone detector.
  std::vector<uint8_t> extremes;
  for (int run = 0; run < 400; ++run)
    extremes.insert(extremes.end(), 1 + rng() % 2000, static_cast<uint8_t>(rng() & 7));
  for (int i = 0; i < 100000; ++i) extremes.push_back((i / 5000) % 2 || i % 2 ? 3 : 4);
  for (int i = 0; i < 100000; ++i) extremes.push_back((i / 3) % 2 ? 0 : 7);
  streams.push_back(extremes);

  size_t total = 0;
  for (auto codes : streams) {
    codes.resize(codes.size() / 8 * 8);
    const auto expected = reference::g726Decode(24000, G726_PACKING_NONE, codes);
    CAdpcmDecoder decoder;
    const auto packed = reference::pack3(codes);
    const auto actual = decodeAll(decoder, packed.data(), packed.size());
    ASSERT_EQ(actual.size(), expected.size());
    const auto [a, e] = std::ranges::mismatch(actual, expected);
    ASSERT_TRUE(a == actual.end()) << "stream at " << total << ", sample " << (a - actual.begin());
    AdpcmState state;
    for (size_t i = 0; i < codes.size(); ++i) {
      CAdpcmDecoder::decodeSample(codes[i], state);
      ASSERT_TRUE(state.yu >= 544 && state.yu <= 5120) << total + i << ": " << state.yu;
      ASSERT_TRUE(state.a[1] >= -12288 && state.a[1] <= 12288) << total + i << ": " << state.a[1];
    }
    total += expected.size();
  }
  EXPECT_GT(total, 2'500'000u);
}

}  // namespace
