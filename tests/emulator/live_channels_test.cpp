// Several channels on one live-stream connection: each at its own rate with its own picture,
// counted per channel, and starts limited by --max-live-channels.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>

#include "jpeg_codec.h"
#include "protocol/byte_order.h"
#include "protocol/command_codes.h"
#include "scripted_viewer.h"

using namespace emutest;
using Clock = std::chrono::steady_clock;

namespace {

std::optional<Message> liveStart(PreparedSession& session, uint32_t mask) {
  return session.control->request(REQ_LIVESTART, maskBody(mask, 20), RSP_LIVESTART);
}

uint32_t startedMask(const Message& reply) {
  return reply.body.size() >= 6 ? readBe32(reply.body.data() + 2) : 0xFFFFFFFFu;
}

double meanDifference(const dvremu::RgbImage& a, const dvremu::RgbImage& b) {
  if (a.pixels.size() != b.pixels.size() || a.pixels.empty()) return 0;
  uint64_t sum = 0;
  for (size_t i = 0; i < a.pixels.size(); ++i)
    sum += static_cast<uint64_t>(std::abs(a.pixels[i] - b.pixels[i]));
  return static_cast<double>(sum) / static_cast<double>(a.pixels.size());
}

// The number that follows `key` in text; -1 when the key is missing.
long numberAfter(const std::string& text, const std::string& key) {
  const size_t at = text.find(key);
  if (at == std::string::npos) return -1;
  return std::strtol(text.c_str() + at + key.size(), nullptr, 10);
}

}  // namespace

TEST(emulatorLiveChannels, EveryStartedChannelFlowsAtItsOwnRateOnOneConnection) {
  auto config = RunningEmulator::configWith({"--size", "352x240", "--preencode", "2"});
  const std::array<double, 4> fps = {20, 10, 5, 5};
  for (size_t i = 0; i < fps.size(); ++i) config.channels[i].fps = fps[i];
  RunningEmulator dvr(config);
  auto session = prepareSession(dvr.port());
  ASSERT_TRUE(session.live);
  const auto started = liveStart(session, 0xF);
  ASSERT_TRUE(started);
  EXPECT_EQ(statusOf(*started), 1);
  EXPECT_EQ(startedMask(*started), 0xFu);

  // One request outstanding per channel, as a grid of tiles pulls them.
  for (int channel = 0; channel < 4; ++channel)
    session.live->send(REQ_LIVEFRAME, liveFrameRequest(channel));
  std::array<int, 4> counts{};
  std::array<dvremu::RgbImage, 4> pictures;
  const auto until = Clock::now() + std::chrono::seconds(2);
  while (Clock::now() < until) {
    const auto frame = session.live->receive();
    ASSERT_TRUE(frame);
    ASSERT_EQ(frame->header.command, RSP_LIVEFRAME);
    ASSERT_EQ(statusOf(*frame), 1);
    ASSERT_GT(frame->body.size(), 22u);
    const int channel = frame->body[7];  // the frame header's channel byte
    ASSERT_LT(channel, 4);
    if (counts[static_cast<size_t>(channel)]++ == 0) {
      ASSERT_TRUE(dvremu::decodeJpeg(frame->body.data() + 22, frame->body.size() - 22,
                                     &pictures[static_cast<size_t>(channel)]));
    }
    session.live->send(REQ_LIVEFRAME, liveFrameRequest(channel));
  }
  for (size_t channel = 0; channel < 4; ++channel) {
    const double expected = 2.0 * fps[channel];
    EXPECT_GE(counts[channel], expected * 0.8) << "channel " << channel + 1;
    EXPECT_LE(counts[channel], expected * 1.2 + 1) << "channel " << channel + 1;
  }
  // Each channel shows its own scene, far apart from every other one.
  for (size_t a = 0; a < 4; ++a) {
    for (size_t b = a + 1; b < 4; ++b)
      EXPECT_GT(meanDifference(pictures[a], pictures[b]), 12.0) << a + 1 << " vs " << b + 1;
  }
  // What was asked for and served shows per channel (the last request may still be in flight).
  const std::string stats = dvr.command("stats");
  for (size_t channel = 0; channel < 4; ++channel) {
    const std::string line = "channel " + std::to_string(channel + 1) + " requests ";
    const auto requests = numberAfter(stats, line);
    const auto frames = numberAfter(stats, line + std::to_string(requests) + " frames ");
    EXPECT_GE(requests, counts[channel]) << stats;
    EXPECT_GE(frames, counts[channel]) << stats;
    EXPECT_LE(frames, counts[channel] + 1) << stats;
    const auto sessionFrames = numberAfter(stats, "ch" + std::to_string(channel + 1) + "-frames ");
    EXPECT_EQ(sessionFrames, frames) << stats;
  }
}

TEST(emulatorLiveChannels, MaxLiveChannelsStartsPartOfAMask) {
  RunningEmulator dvr(RunningEmulator::configWith({"--channels", "6", "--max-live-channels", "2"}));
  auto session = prepareSession(dvr.port());
  ASSERT_TRUE(session.live);
  const auto first = liveStart(session, 0x34);  // channels 3, 5 and 6
  ASSERT_TRUE(first);
  EXPECT_EQ(statusOf(*first), 1);
  EXPECT_EQ(startedMask(*first), 0x14u);  // the lowest two
  // Channels already running are answered as started; no room is left for another.
  const auto again = liveStart(session, 0x5);
  ASSERT_TRUE(again);
  EXPECT_EQ(statusOf(*again), 1);
  EXPECT_EQ(startedMask(*again), 0x4u);
  const auto full = liveStart(session, 0x20);
  ASSERT_TRUE(full);
  EXPECT_NE(statusOf(*full), 1);
  EXPECT_EQ(startedMask(*full), 0u);

  session.live->send(REQ_LIVEFRAME, liveFrameRequest(5));
  const auto refused = session.live->receive();
  ASSERT_TRUE(refused);
  EXPECT_NE(statusOf(*refused), 1);
  session.live->send(REQ_LIVEFRAME, liveFrameRequest(4));
  const auto served = session.live->receive();
  ASSERT_TRUE(served);
  EXPECT_EQ(statusOf(*served), 1);
  EXPECT_EQ(served->body[7], 4);
  // Another session has its own allowance.
  auto other = prepareSession(dvr.port());
  ASSERT_TRUE(other.live);
  const auto theirs = liveStart(other, 0x20);
  ASSERT_TRUE(theirs);
  EXPECT_EQ(startedMask(*theirs), 0x20u);
}
