// Many channels on the session's one live-stream connection, against the emulator: fairness,
// one request outstanding per channel, the right picture per channel, adding, removing, partial
// starts and rate caps.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>

#include "protocol/command_codes.h"

#include "jpeg_codec.h"
#include "session_fixture.h"

using Kind = dvremu::ConnectionKind;

namespace {

constexpr uint32_t kFrameHeaderSize = 16;

dvremu::RgbImage decoded(const std::vector<uint8_t>& frame) {
  dvremu::RgbImage image;
  if (frame.size() > kFrameHeaderSize)
    dvremu::decodeJpeg(frame.data() + kFrameHeaderSize, frame.size() - kFrameHeaderSize, &image);
  return image;
}

double meanDifference(const dvremu::RgbImage& a, const dvremu::RgbImage& b) {
  if (a.pixels.size() != b.pixels.size() || a.pixels.empty()) return 1e9;
  uint64_t sum = 0;
  for (size_t i = 0; i < a.pixels.size(); ++i)
    sum += static_cast<uint64_t>(std::abs(a.pixels[i] - b.pixels[i]));
  return static_cast<double>(sum) / static_cast<double>(a.pixels.size());
}

// Requested minus delivered never above one: read in that order, the difference can only be
// understated, never overstated.
bool atMostOneOutstanding(const CLiveSession& session, int channels) {
  for (int c = 0; c < channels; ++c) {
    const auto channel = static_cast<uint8_t>(c);
    const uint64_t requested = session.framesRequested(channel);
    const uint64_t delivered = session.framesDelivered(channel);
    if (requested > delivered + 1) return false;
  }
  return true;
}

}  // namespace

TEST(sessionChannels, FourChannelsShareOneLiveStreamFairlyEachWithItsOwnPicture) {
  CTestDvr dvr({"--size", "352x240"});
  CRecordingListener listener;
  CLiveSession session(listener);
  session.setWantedChannels(0xF);  // wanted before "Connected.": started right after it
  ASSERT_TRUE(session.connect(targetFor(dvr)));
  ASSERT_TRUE(waitFor([&] { return session.runningChannels() == 0xF; }));
  EXPECT_EQ(listener.channels.back(), std::make_pair(0xFu, 0u));

  bool oneOutstanding = true;
  ASSERT_TRUE(waitFor(
      [&] {
        oneOutstanding = oneOutstanding && atMostOneOutstanding(session, 4);
        for (uint8_t c = 0; c < 4; ++c)
          if (listener.frames(c) < 15) return false;
        return true;
      },
      30000));
  EXPECT_TRUE(oneOutstanding);
  EXPECT_EQ(dvr.connections(Kind::Control), 1);
  EXPECT_EQ(dvr.connections(Kind::Live), 1);

  // Fair within 2:1, as the DVR counted the requests.
  const auto& stats = dvr.emulator().core().stats();
  uint64_t fewest = UINT64_MAX, most = 0;
  for (int c = 0; c < 4; ++c) {
    fewest = std::min<uint64_t>(fewest, stats.channelRequests[static_cast<size_t>(c)].load());
    most = std::max<uint64_t>(most, stats.channelRequests[static_cast<size_t>(c)].load());
  }
  EXPECT_LE(most, 2 * fewest);
  for (int c = 4; c < 16; ++c) EXPECT_EQ(stats.channelRequests[static_cast<size_t>(c)].load(), 0u);

  // Each channel's frames show that channel's picture: closest to its own source, of the four.
  for (uint8_t c = 0; c < 4; ++c) {
    const auto picture = decoded(listener.firstJpeg(c));
    ASSERT_FALSE(picture.pixels.empty()) << "channel " << int(c);
    int closest = -1;
    double best = 1e18;
    for (int source = 0; source < 4; ++source) {
      const auto reference =
          dvr.emulator().core().feed(source)->picture(std::chrono::steady_clock::now());
      const double difference = meanDifference(picture, reference->image);
      if (difference < best) best = difference, closest = source;
    }
    EXPECT_EQ(closest, c);
  }
  EXPECT_EQ(listener.faults(), 0);
}

TEST(sessionChannels, AddingAChannelStartsItOnTheRunningLiveStream) {
  // Before the emulator, so they outlive its threads.
  std::mutex wireMutex;
  std::vector<std::vector<uint8_t>> liveStarts;  // REQ_LIVESTART bodies as the DVR got them
  CTestDvr dvr;
  dvr.emulator().core().log().setWireSink([&](const dvremu::WireEvent& event) {
    if (event.command != REQ_LIVESTART) return;
    std::lock_guard lock(wireMutex);
    liveStarts.push_back(event.body);
  });
  CRecordingListener listener;
  CLiveSession session(listener);
  session.setWantedChannels(0x1);
  ASSERT_TRUE(session.connect(targetFor(dvr)));
  ASSERT_TRUE(waitFor([&] { return listener.frames(0) > 2; }));
  EXPECT_EQ(listener.frames(2), 0u);

  session.setWantedChannels(0x5);
  ASSERT_TRUE(waitFor([&] { return listener.frames(2) > 2; }));
  EXPECT_EQ(session.runningChannels(), 0x5u);
  EXPECT_EQ(listener.channels.back(), std::make_pair(0x5u, 0u));
  EXPECT_EQ(dvr.connections(Kind::Live), 1);
  EXPECT_EQ(dvr.emulator().core().stats().connectionsAccepted.load(), 3u);  // control, notice, live
  EXPECT_EQ(listener.faults(), 0);
  // The new channel's bit alone: 20 bytes, the mask big-endian first.
  std::vector<uint8_t> first(20, 0), added(20, 0);
  first[3] = 0x01;
  added[3] = 0x04;
  std::lock_guard lock(wireMutex);
  EXPECT_EQ(liveStarts, (std::vector<std::vector<uint8_t>>{first, added}));
}

TEST(sessionChannels, APartialStartReportsTheRefusedChannels) {
  CTestDvr dvr({"--max-live-channels", "2"});
  CRecordingListener listener;
  CLiveSession session(listener);
  session.setWantedChannels(0xF);
  ASSERT_TRUE(session.connect(targetFor(dvr)));
  ASSERT_TRUE(waitFor([&] { return !listener.channels.empty(); }));
  EXPECT_EQ(listener.channels.back(), std::make_pair(0x3u, 0xCu));
  ASSERT_TRUE(waitFor([&] { return listener.frames(0) > 3 && listener.frames(1) > 3; }));
  EXPECT_EQ(session.framesRequested(2) + session.framesRequested(3), 0u);
  // Wanting it again doesn't ask again; taking it out and back in does.
  session.setWantedChannels(0xF);
  session.setWantedChannels(0x3);
  session.setWantedChannels(0x7);
  ASSERT_TRUE(waitFor([&] { return listener.channels.size() >= 2; }));
  EXPECT_EQ(listener.channels.back(), std::make_pair(0x3u, 0x4u));
}

TEST(sessionChannels, ARemovedChannelIsNoLongerPulled) {
  CTestDvr dvr;
  CRecordingListener listener;
  CLiveSession session(listener);
  session.setWantedChannels(0x3);
  ASSERT_TRUE(session.connect(targetFor(dvr)));
  ASSERT_TRUE(waitFor([&] { return listener.frames(0) > 3 && listener.frames(1) > 3; }));
  session.setWantedChannels(0x1);
  // The request in flight may still be answered; nothing after it.
  waitFor([] { return false; }, 200);
  const uint64_t requested = session.framesRequested(1);
  const uint64_t zero = listener.frames(0);
  ASSERT_TRUE(waitFor([&] { return listener.frames(0) > zero + 5; }));
  EXPECT_EQ(session.framesRequested(1), requested);
  EXPECT_EQ(session.wantedChannels(), 0x1u);
}

TEST(sessionChannels, ARateCapLimitsItsChannelOnly) {
  CTestDvr dvr({"--fps", "50", "--size", "352x240", "--preencode", "2"});
  CRecordingListener listener;
  CLiveSession session(listener);
  session.setChannelRateCap(0, 2);
  session.setWantedChannels(0x3);
  ASSERT_TRUE(session.connect(targetFor(dvr)));
  ASSERT_TRUE(waitFor([&] { return listener.frames(1) > 0; }));
  // However fast the uncapped channel runs here, the capped one is asked at most twice a second
  // over the same span (and once more at each edge). The span covers three of the capped
  // channel's periods, so at least one request falls inside it whatever the phase.
  const auto start = std::chrono::steady_clock::now();
  const uint64_t capped = session.framesRequested(0), free = session.framesRequested(1);
  const auto elapsed = [&] { return std::chrono::steady_clock::now() - start; };
  ASSERT_TRUE(waitFor(
      [&] {
        return session.framesRequested(1) >= free + 25 &&
               elapsed() >= std::chrono::milliseconds(1500);
      },
      30000));
  const uint64_t cappedRequests = session.framesRequested(0) - capped;
  const double seconds = std::chrono::duration<double>(elapsed()).count();
  EXPECT_LE(static_cast<double>(cappedRequests), 2 * seconds + 2);
  EXPECT_GE(cappedRequests, 1u);
  session.setChannelRateCap(0, 0);
  const uint64_t uncapped = session.framesRequested(0);
  EXPECT_TRUE(waitFor([&] { return session.framesRequested(0) > uncapped + 10; }, 30000));
}

TEST(sessionChannels, ChannelsTheDvrStopsAreStartedAgain) {
  CTestDvr dvr;
  CRecordingListener listener;
  CLiveSession session(listener);
  session.setWantedChannels(0x3);
  ASSERT_TRUE(session.connect(targetFor(dvr)));
  ASSERT_TRUE(waitFor([&] { return listener.frames(0) > 2 && listener.frames(1) > 2; }));
  listener.channels.clear();

  dvr.command("livestop 1 0x2");
  ASSERT_TRUE(waitFor([&] { return listener.channels.size() >= 2; }));
  EXPECT_EQ(listener.channels[0], std::make_pair(0x1u, 0u));
  EXPECT_EQ(listener.channels[1], std::make_pair(0x3u, 0u));
  uint64_t one = listener.frames(1);
  EXPECT_TRUE(waitFor([&] { return listener.frames(1) > one + 3; }));

  // Every channel at once: nothing is restarted and the frames go on.
  dvr.command("livestop 1 0xFFFF");
  one = listener.frames(1);
  EXPECT_TRUE(waitFor([&] { return listener.frames(1) > one + 3; }));
  EXPECT_EQ(listener.channels.size(), 2u);
  EXPECT_EQ(session.runningChannels(), 0x3u);
  EXPECT_EQ(listener.faults(), 0);
}
