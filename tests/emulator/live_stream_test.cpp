// Frames on the live-stream connection: layout, codecs, pacing, and many viewers at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "jpeg_codec.h"
#include "protocol/byte_order.h"
#include "protocol/command_codes.h"
#include "scripted_viewer.h"

using namespace emutest;
using Clock = std::chrono::steady_clock;

namespace {
// The frame inside an RSP_LIVEFRAME body, found as the viewer finds it: the first 0x01 byte
// after the 6-byte prefix.
size_t frameStart(const std::vector<uint8_t>& body) {
  for (size_t i = 6; i < body.size(); ++i) {
    if (body[i] == 0x01) return i;
  }
  return body.size();
}

Message pull(ScriptedConnection& live, int channel) {
  live.send(REQ_LIVEFRAME, liveFrameRequest(channel));
  auto message = live.receive();
  EXPECT_TRUE(message);
  return message ? *message : Message{};
}

void start(PreparedSession& session, uint32_t mask) {
  const auto started = session.control->request(REQ_LIVESTART, maskBody(mask, 20), RSP_LIVESTART);
  ASSERT_TRUE(started);
  ASSERT_EQ(statusOf(*started), 1);
}
}  // namespace

TEST(emulatorLiveStream, JpegFramesSitBehindPrefixAndFrameHeader) {
  auto config = RunningEmulator::testConfig();
  config.channels[1].width = 352;
  config.channels[1].height = 288;
  RunningEmulator dvr(config);
  auto session = prepareSession(dvr.port());
  ASSERT_TRUE(session.live);
  start(session, 0x3);
  for (const int channel : {0, 1}) {
    const auto message = pull(*session.live, channel);
    ASSERT_EQ(message.header.command, RSP_LIVEFRAME);
    const auto& body = message.body;
    ASSERT_GT(body.size(), 6u + 16u);
    EXPECT_EQ(readBe16(body.data()), 1);
    EXPECT_EQ(readBe16(body.data() + 4), 1);  // JPEG
    EXPECT_EQ(body[6], 0x01);
    EXPECT_EQ(body[7], channel);
    EXPECT_EQ(body[6 + 16], 0xFF);
    EXPECT_EQ(body[6 + 17], 0xD8);
    EXPECT_EQ(body[body.size() - 2], 0xFF);
    EXPECT_EQ(body.back(), 0xD9);  // the image ends the frame
    dvremu::RgbImage image;
    ASSERT_TRUE(dvremu::decodeJpeg(body.data() + 22, body.size() - 22, &image));
    EXPECT_EQ(image.width, channel == 0 ? 704 : 352);
    EXPECT_EQ(image.height, channel == 0 ? 480 : 288);
  }
}

TEST(emulatorLiveStream, FillerBytesBeforeTheMarkerAreNeverOne) {
  auto config = RunningEmulator::testConfig();
  config.fillerBytes = 5;
  RunningEmulator dvr(config);
  auto session = prepareSession(dvr.port());
  ASSERT_TRUE(session.live);
  start(session, 0x1);
  const auto message = pull(*session.live, 0);
  EXPECT_EQ(frameStart(message.body), 11u);
  EXPECT_EQ(message.body[12], 0);
}

TEST(emulatorLiveStream, ChannelNotStartedGetsAFailureStatus) {
  RunningEmulator dvr;
  auto session = prepareSession(dvr.port());
  ASSERT_TRUE(session.live);
  start(session, 0x1);
  const auto message = pull(*session.live, 3);
  EXPECT_EQ(message.header.command, RSP_LIVEFRAME);
  EXPECT_NE(statusOf(message), 1);
  EXPECT_EQ(message.body.size(), 6u);
}

TEST(emulatorLiveStream, Mpeg4KeyFrameCarriesTheConfigurationAndDecodes) {
  auto config = RunningEmulator::testConfig();
  config.channels[0].codec = dvremu::VideoCodec::Mpeg4;
  config.channels[0].width = 352;
  config.channels[0].height = 240;
  RunningEmulator dvr(config);
  auto session = prepareSession(dvr.port());
  ASSERT_TRUE(session.live);
  start(session, 0x1);

  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
  ASSERT_NE(codec, nullptr);
  AVCodecContext* decoder = avcodec_alloc_context3(codec);
  ASSERT_EQ(avcodec_open2(decoder, codec, nullptr), 0);
  AVPacket* packet = av_packet_alloc();
  AVFrame* picture = av_frame_alloc();
  int decoded = 0;
  for (int i = 0; i < 6; ++i) {
    const auto message = pull(*session.live, 0);
    const auto& body = message.body;
    ASSERT_GT(body.size(), 6u + 16u + 4u);
    EXPECT_EQ(readBe16(body.data() + 4), 0);  // codec frame
    ASSERT_EQ(body[6], 0x01);
    const uint8_t* coded = body.data() + 22;
    const std::vector<uint8_t> vo = {0, 0, 1, 1}, vop = {0, 0, 1, 0xB6};
    if (i == 0) {
      EXPECT_TRUE(std::equal(vo.begin(), vo.end(), coded))
          << "a first frame starts with its configuration";
      EXPECT_EQ(coded[4], 0);
      EXPECT_EQ(coded[6], 1);
      EXPECT_EQ(coded[7] & 0xF0, 0x20);  // the VOL header follows
    } else {
      EXPECT_TRUE(std::equal(vop.begin(), vop.end(), coded)) << "frame " << i;
    }
    ASSERT_EQ(av_new_packet(packet, static_cast<int>(body.size() - 22)), 0);
    std::memcpy(packet->data, coded, body.size() - 22);
    ASSERT_EQ(avcodec_send_packet(decoder, packet), 0);
    av_packet_unref(packet);
    while (avcodec_receive_frame(decoder, picture) == 0) {
      EXPECT_EQ(picture->width, 352);
      EXPECT_EQ(picture->height, 240);
      ++decoded;
    }
  }
  EXPECT_GE(decoded, 5);
  av_frame_free(&picture);
  av_packet_free(&packet);
  avcodec_free_context(&decoder);
}

TEST(emulatorLiveStream, FramesArePacedToTheChannelRateAndOnePerRequest) {
  auto config = RunningEmulator::testConfig();
  config.channels[0].fps = 20;
  config.channels[0].preencoded = 2;  // pacing alone, whatever the build's encoding speed
  RunningEmulator dvr(config);
  auto session = prepareSession(dvr.port());
  ASSERT_TRUE(session.live);
  start(session, 0x1);
  pull(*session.live, 0);  // the first frame comes at once
  const auto begin = Clock::now();
  constexpr int kFrames = 30;
  for (int i = 0; i < kFrames; ++i) pull(*session.live, 0);
  const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  const double fps = kFrames / seconds;
  EXPECT_NEAR(fps, 20.0, 2.0);
  // Nothing comes without a request.
  EXPECT_FALSE(session.live->receive(300).has_value());
}

TEST(emulatorLiveStream, EightViewersOnEightChannelsAllGetTheirRate) {
  auto config = RunningEmulator::testConfig();
  config.channelCount = 8;
  for (auto& channel : config.channels) {
    channel.fps = 10;
    channel.width = 352;
    channel.height = 240;
    channel.preencoded = 2;  // the serving is under test, not the encoder's speed
  }
  RunningEmulator dvr(config);
  constexpr int kViewers = 8;
  std::vector<PreparedSession> sessions;
  for (int i = 0; i < kViewers; ++i) {
    sessions.push_back(prepareSession(dvr.port()));
    ASSERT_TRUE(sessions.back().live);
    start(sessions.back(), 1u << i);
  }
  std::atomic<int> counts[kViewers] = {};
  std::atomic<bool> wrongChannel{false};
  std::vector<std::thread> pullers;
  const auto until = Clock::now() + std::chrono::milliseconds(1500);
  for (int i = 0; i < kViewers; ++i) {
    pullers.emplace_back([&, i] {
      while (Clock::now() < until) {
        sessions[static_cast<size_t>(i)].live->send(REQ_LIVEFRAME, liveFrameRequest(i));
        const auto message = sessions[static_cast<size_t>(i)].live->receive();
        if (!message) return;
        if (message->body.size() < 8 || message->body[7] != i) wrongChannel = true;
        counts[i].fetch_add(1);
      }
    });
  }
  for (auto& thread : pullers) thread.join();
  EXPECT_FALSE(wrongChannel.load());
  for (int i = 0; i < kViewers; ++i) {
    EXPECT_GE(counts[i].load(), 12) << "viewer " << i << " starved";  // 10 fps for 1.5 s
    EXPECT_LE(counts[i].load(), 18) << "viewer " << i;
  }
}

TEST(emulatorLiveStream, PreencodedLoopIsServedFromMemory) {
  auto config = RunningEmulator::testConfig();
  config.channels[0].preencoded = 3;
  config.channels[0].fps = 0;
  RunningEmulator dvr(config);
  ASSERT_EQ(dvr.emulator().core().feed(0)->loopLength(), 3u);
  auto session = prepareSession(dvr.port());
  ASSERT_TRUE(session.live);
  start(session, 0x1);
  std::vector<std::vector<uint8_t>> seen;
  for (int i = 0; i < 4; ++i) seen.push_back(pull(*session.live, 0).body);
  EXPECT_EQ(seen[0], seen[3]);  // the loop wraps after three frames
  EXPECT_NE(seen[0], seen[1]);
}

TEST(emulatorLiveStream, FrameSendSinkHearsEachFrameBeforeItArrives) {
  auto config = RunningEmulator::testConfig();
  config.channels[1].preencoded = 2;
  config.channels[1].fps = 0;
  RunningEmulator dvr(config);
  std::mutex mutex;
  std::vector<std::pair<int, uint64_t>> sent;
  dvr.emulator().core().log().setFrameSendSink([&](const dvremu::FrameSendEvent& event) {
    std::lock_guard lock(mutex);
    sent.emplace_back(event.channel, event.number);
  });
  auto session = prepareSession(dvr.port());
  ASSERT_TRUE(session.live);
  start(session, 0x2);
  for (int i = 1; i <= 3; ++i) {
    pull(*session.live, 1);
    std::lock_guard lock(mutex);
    EXPECT_EQ(sent.size(), static_cast<size_t>(i));  // heard before the frame was read
  }
  // A channel that is not started sends no frame, so nothing is heard.
  pull(*session.live, 0);
  dvr.emulator().core().log().setFrameSendSink(nullptr);
  pull(*session.live, 1);
  std::lock_guard lock(mutex);
  EXPECT_EQ(sent, (std::vector<std::pair<int, uint64_t>>{{1, 1}, {1, 2}, {1, 1}}));
}

TEST(emulatorLiveStream, LiveJitterMakesFramesLateButKeepsTheRate) {
  auto config = RunningEmulator::configWith({"--live-jitter", "80"});
  config.channels[0].fps = 10;
  config.channels[0].preencoded = 2;
  RunningEmulator dvr(config);
  auto session = prepareSession(dvr.port());
  ASSERT_TRUE(session.live);
  start(session, 0x1);
  pull(*session.live, 0);  // the first frame comes at once
  const auto first = Clock::now();
  constexpr int kFrames = 20;
  std::vector<double> offsetsMs;  // each frame's arrival after its place at 10 fps
  for (int k = 1; k <= kFrames; ++k) {
    pull(*session.live, 0);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - first).count();
    offsetsMs.push_back(ms - 100.0 * k);
  }
  const auto [early, late] = std::minmax_element(offsetsMs.begin(), offsetsMs.end());
  EXPECT_GE(*early, -5.0);
  EXPECT_LE(*late, 80.0 + 60.0);
  EXPECT_GT(*late - *early, 30.0);
  EXPECT_LT(offsetsMs.back(), 140.0);  // still 10 frames a second over the run
}
