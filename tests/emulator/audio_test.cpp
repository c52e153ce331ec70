// Audio blocks: timing, sizes, and the coding round trip through spandsp's decoders.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

extern "C" {
#include <spandsp.h>
}

#include "audio_block_source.h"
#include "protocol/byte_order.h"
#include "protocol/command_codes.h"
#include "scripted_viewer.h"
#include "send_jitter.h"

using namespace emutest;
using Clock = std::chrono::steady_clock;

namespace {

struct AudioSetup {
  PreparedSession session;
  std::unique_ptr<ScriptedConnection> audio;
};

AudioSetup openAudio(uint16_t port, uint32_t selectMask) {
  AudioSetup setup;
  setup.session = prepareSession(port);
  if (!setup.session.control) return setup;
  const auto open = setup.session.control->request(REQ_AUDIOOPEN, {}, RSP_AUDIOOPEN);
  if (!open || open->body.size() != 69) return setup;
  setup.audio = std::make_unique<ScriptedConnection>(readBe16(open->body.data() + 67));
  if (setup.audio->login("demo", "demo") != 1) setup.audio.reset();
  setup.session.control->request(REQ_AUDIOSTART, maskBody(0xFFFFFFFF, 22), RSP_AUDIOSTART);
  setup.session.control->request(REQ_AUDIOSELECT, maskBody(selectMask, 20), RSP_AUDIOSELECT);
  return setup;
}

double snrDb(const std::vector<int16_t>& reference, const std::vector<int16_t>& decoded) {
  double signal = 0, noise = 0;
  const size_t n = std::min(reference.size(), decoded.size());
  for (size_t i = 0; i < n; ++i) {
    signal += double(reference[i]) * reference[i];
    const double e = double(reference[i]) - decoded[i];
    noise += e * e;
  }
  return 10 * std::log10(signal / std::max(noise, 1.0));
}

std::vector<int16_t> decodeWithSpandsp(const std::vector<uint8_t>& codes, int rate, int packing) {
  g726_state_t* state = g726_init(nullptr, rate, G726_ENCODING_LINEAR, packing);
  std::vector<int16_t> out(codes.size() * 8 + 8);
  const int n = g726_decode(state, out.data(), codes.data(), static_cast<int>(codes.size()));
  g726_free(state);
  out.resize(static_cast<size_t>(std::max(0, n)));
  return out;
}

// The viewer's unpacking of 3-bit codes: least significant bit first, in groups of three bytes.
std::vector<uint8_t> unpackThreeBit(const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> codes;
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t v = bytes[i] | (bytes[i + 1] << 8) | (bytes[i + 2] << 16);
    for (int k = 0; k < 8; ++k) codes.push_back((v >> (3 * k)) & 7);
  }
  return codes;
}

}  // namespace

TEST(emulatorAudio, G726BlocksEvery200MsAfterStartAndSelect) {
  RunningEmulator dvr;
  auto setup = openAudio(dvr.port(), 0x1);
  ASSERT_TRUE(setup.audio);
  std::vector<Clock::time_point> arrivals;
  for (int i = 0; i < 8; ++i) {
    const auto block = setup.audio->receive(1000);
    ASSERT_TRUE(block);
    EXPECT_EQ(block->header.command, RSP_AUDIOG726);
    EXPECT_EQ(block->body.size(), 16u + 800u);  // 1600 samples, two per byte
    arrivals.push_back(Clock::now());
  }
  const double span = std::chrono::duration<double>(arrivals.back() - arrivals[1]).count();
  EXPECT_NEAR(span / 6.0, 0.2, 0.02);

  // Stop: no more blocks.
  setup.session.control->request(REQ_AUDIOSTOP, maskBody(0xFFFFFFFF, 20), RSP_AUDIOSTOP);
  while (setup.audio->receive(250)) {
  }
  EXPECT_FALSE(setup.audio->receive(500).has_value());
}

TEST(emulatorAudio, NoBlocksWithoutASelectedChannel) {
  RunningEmulator dvr;
  auto setup = openAudio(dvr.port(), 0);
  ASSERT_TRUE(setup.audio);
  EXPECT_FALSE(setup.audio->receive(600).has_value());
}

TEST(emulatorAudio, ThreeBitBlocksAfterACodecSwitch) {
  RunningEmulator dvr;
  dvr.command("audio-codec adpcm");
  auto setup = openAudio(dvr.port(), 0x1);
  ASSERT_TRUE(setup.audio);
  const auto block = setup.audio->receive(1000);
  ASSERT_TRUE(block);
  EXPECT_EQ(block->header.command, RSP_AUDIOADPCM);
  EXPECT_EQ(block->body.size(), 16u + 600u);  // 1600 codes of 3 bits
}

TEST(emulatorAudio, FourBitCodesDecodeTwoSamplesPerByteLowNibbleFirst) {
  for (const auto kind : {dvremu::AudioSourceKind::Tones, dvremu::AudioSourceKind::Speech}) {
    dvremu::AudioSynth synth(kind, 1), reference(kind, 1);
    dvremu::G726BlockEncoder encoder(dvremu::AudioCodec::G726, dvremu::G726Packing::Right);
    std::vector<int16_t> source(dvremu::kAudioBlockSamples * 10);
    reference.fill(source.data(), static_cast<int>(source.size()));
    std::vector<uint8_t> codes;
    std::vector<int16_t> block(dvremu::kAudioBlockSamples);
    for (int b = 0; b < 10; ++b) {
      synth.fill(block.data(), dvremu::kAudioBlockSamples);
      encoder.encode(block.data(), dvremu::kAudioBlockSamples, &codes);
    }
    ASSERT_EQ(codes.size(), source.size() / 2);
    const auto decoded = decodeWithSpandsp(codes, 32000, G726_PACKING_RIGHT);
    ASSERT_EQ(decoded.size(), source.size());
    const double snr = snrDb(source, decoded);
    EXPECT_GT(snr, 12.0);
    // The first code of a byte is its low nibble.
    std::vector<uint8_t> nibbles;
    for (const uint8_t byte : codes) {
      nibbles.push_back(byte & 0x0F);
      nibbles.push_back(byte >> 4);
    }
    EXPECT_EQ(decodeWithSpandsp(nibbles, 32000, G726_PACKING_NONE), decoded);
    EXPECT_LT(snrDb(source, decodeWithSpandsp(codes, 32000, G726_PACKING_LEFT)), snr - 6.0);
  }
}

TEST(emulatorAudio, ThreeBitCodesUnpackAsTheViewerDoes) {
  dvremu::AudioSynth synth(dvremu::AudioSourceKind::Speech, 0),
      reference(dvremu::AudioSourceKind::Speech, 0);
  dvremu::G726BlockEncoder encoder(dvremu::AudioCodec::Adpcm,
                                   dvremu::G726Packing::Left);  // packing unused
  std::vector<int16_t> source(dvremu::kAudioBlockSamples * 5);
  reference.fill(source.data(), static_cast<int>(source.size()));
  std::vector<uint8_t> bytes;
  std::vector<int16_t> block(dvremu::kAudioBlockSamples);
  for (int b = 0; b < 5; ++b) {
    synth.fill(block.data(), dvremu::kAudioBlockSamples);
    encoder.encode(block.data(), dvremu::kAudioBlockSamples, &bytes);
  }
  ASSERT_EQ(bytes.size(), source.size() * 3 / 8);
  const auto codes = unpackThreeBit(bytes);
  ASSERT_EQ(codes.size(), source.size());
  const auto decoded = decodeWithSpandsp(codes, 24000, G726_PACKING_NONE);
  EXPECT_GT(snrDb(source, decoded), 8.0);
  EXPECT_EQ(decoded, decodeWithSpandsp(bytes, 24000, G726_PACKING_RIGHT));
}

TEST(emulatorAudio, JitterMakesBlocksLateButKeepsTheirSchedule) {
  RunningEmulator dvr(RunningEmulator::configWith({"--audio-jitter", "100"}));
  auto setup = openAudio(dvr.port(), 0x1);
  ASSERT_TRUE(setup.audio);
  ASSERT_TRUE(setup.audio->receive(1000));  // the first block goes out at once
  const auto first = Clock::now();
  constexpr int kBlocks = 20;
  std::vector<double> offsetsMs;  // each block's arrival after its place on the schedule
  for (int k = 1; k <= kBlocks; ++k) {
    ASSERT_TRUE(setup.audio->receive(1000));
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - first).count();
    offsetsMs.push_back(ms - 200.0 * k);
  }
  const auto [early, late] = std::minmax_element(offsetsMs.begin(), offsetsMs.end());
  // Late by up to 100 ms each, never early, and spread over that range rather than fixed. The
  // schedule is known only from the first block's arrival, which a loaded machine may see a few
  // milliseconds late; a jitter that moved blocks either way would put some 50 ms early.
  EXPECT_GE(*early, -25.0);
  EXPECT_LE(*late, 100.0 + 60.0);  // loopback and a loaded machine's scheduling
  EXPECT_GT(*late - *early, 40.0);
  // No drift: the last block is as close to its place as the first ones.
  EXPECT_LT(offsetsMs.back(), 160.0);
}

TEST(emulatorAudio, SendJitterIsUniformUpToItsMaximum) {
  dvremu::SendJitter none(0, 1);
  EXPECT_EQ(none.next().count(), 0);
  dvremu::SendJitter jitter(40, 1);
  int low = 0, high = 0;
  for (int i = 0; i < 2000; ++i) {
    const auto late = jitter.next().count();
    ASSERT_GE(late, 0);
    ASSERT_LE(late, 40'000);
    low += late < 10'000;
    high += late >= 30'000;
  }
  // A quarter of the range each: about 500 draws in either.
  EXPECT_NEAR(low, 500, 100);
  EXPECT_NEAR(high, 500, 100);
}
