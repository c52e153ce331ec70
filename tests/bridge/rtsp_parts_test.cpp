// The RTSP side's parts without a server: the audio timeline, the channel a path names, where an
// MPEG-4 media may start, the audio sink's decoding and routing, the wait for a channel's codec,
// the options and the documents that count RTSP clients.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "audio/g726_library.h"
#include "bridge/audio_timeline.h"
#include "bridge/bridge_options.h"
#include "bridge/bridge_state.h"
#include "bridge/rtsp_audio_sink.h"
#include "bridge/rtsp_channel.h"
#include "bridge/rtsp_path.h"
#include "bridge/video_pacing.h"
#include "mpeg4_encoder.h"

namespace {

bool noFiles(const std::string&, std::string*, std::string* error) {
  *error = "no files";
  return false;
}

// Spans laid on a timeline, checked to follow each other without a hole or an overlap.
struct Laid {
  int64_t end = 0;
  int64_t silence = 0;
  int64_t real = 0;
  bool contiguous = true;
  void add(int64_t start, int64_t count, bool isReal) {
    if (count <= 0) return;
    contiguous = contiguous && start == end;
    end = start + count;
    (isReal ? real : silence) += count;
  }
};

}  // namespace

TEST(AudioTimeline, StaysContinuousAndNearTheClockWhateverTheAudioDoes) {
  CAudioTimeline timeline;
  Laid laid;
  std::mt19937 random(7);
  std::uniform_int_distribution<int64_t> jitter(0, 800);  // up to 100 ms late
  int64_t now = 0;
  const auto tick = [&](int64_t until) {
    for (; now < until; now += 800) {  // every 100 ms
      const auto span = timeline.fill(now);
      laid.add(span.start, span.count, false);
    }
  };
  // 1. Real 200 ms blocks arriving on time, a little late at random: all of them go in, and
  //    the timeline never runs more than a second ahead or half a second behind.
  tick(4000);
  for (int block = 0; block < 50; ++block) {
    tick(4000 + block * 1600);
    const int64_t arrival = now + jitter(random);
    const auto gap = timeline.fill(arrival);
    laid.add(gap.start, gap.count, false);
    const auto start = timeline.place(arrival, 1600);
    ASSERT_TRUE(start.has_value()) << block;
    laid.add(*start, 1600, true);
    EXPECT_LE(timeline.end() - arrival, CAudioTimeline::kMaxAheadSamples) << block;
    EXPECT_GE(timeline.end() - arrival, -CAudioTimeline::kGapSamples) << block;
  }
  EXPECT_EQ(laid.real, 50 * 1600);
  // 2. The audio stops (another channel has it): silence keeps the stream going.
  const int64_t stopped = now;
  tick(stopped + 3 * CAudioTimeline::kRate);
  EXPECT_GE(timeline.end(), now - CAudioTimeline::kGapSamples);
  EXPECT_GT(laid.silence, 2 * CAudioTimeline::kRate);
  // 3. A burst far faster than real time: what would run more than a second ahead is dropped.
  int placed = 0;
  for (int block = 0; block < 20; ++block) {
    const auto gap = timeline.fill(now);
    laid.add(gap.start, gap.count, false);
    if (const auto start = timeline.place(now, 1600)) {
      laid.add(*start, 1600, true);
      ++placed;
    }
  }
  EXPECT_GT(placed, 0);
  EXPECT_LT(placed, 20);
  EXPECT_EQ(timeline.droppedSamples(), static_cast<uint64_t>(20 - placed) * 1600);
  EXPECT_LE(timeline.end() - now, CAudioTimeline::kMaxAheadSamples);
  EXPECT_TRUE(laid.contiguous);
  EXPECT_EQ(laid.end, timeline.end());
  EXPECT_FALSE(timeline.place(now, 0).has_value());
}

TEST(AudioTimeline, TimeAndSamplesConvertExactlyOnAStreamThatRunsForMonths) {
  using std::chrono::hours;
  using std::chrono::nanoseconds;
  const auto ns = [](auto duration) { return nanoseconds(duration).count(); };
  EXPECT_EQ(CAudioTimeline::samplesIn(ns(std::chrono::seconds(1))), 8000);
  EXPECT_EQ(CAudioTimeline::samplesIn(124'999), 0);  // a part of a sample isn't one
  EXPECT_EQ(CAudioTimeline::samplesIn(125'000), 1);
  EXPECT_EQ(CAudioTimeline::samplesIn(-250'000), -2);  // a block that came before the start
  EXPECT_EQ(CAudioTimeline::nanosecondsAt(3), 375'000);
  // A recorder may hold a channel's stream for months: past two weeks the samples, past four
  // the timestamps, would no longer fit a 64-bit product of the usual formula.
  for (const int days : {13, 14, 27, 28, 400}) {
    const int64_t samples = int64_t{8000} * 3600 * 24 * days;
    EXPECT_EQ(CAudioTimeline::samplesIn(ns(hours(24 * days))), samples) << days;
    EXPECT_EQ(CAudioTimeline::nanosecondsAt(samples), ns(hours(24 * days))) << days;
    EXPECT_EQ(CAudioTimeline::samplesIn(ns(hours(24 * days)) + 125'000), samples + 1) << days;
  }
}

TEST(RtspPath, OnlyTheChannelPathsName) {
  EXPECT_EQ(rtspChannelOfPath("/channel/1"), 0);
  EXPECT_EQ(rtspChannelOfPath("/channel/16"), 15);
  EXPECT_EQ(rtspChannelOfPath("/channel/3/stream=1"), 2);
  for (const char* path :
       {"", "/", "/channel", "/channel/", "/channel/0", "/channel/17", "/channel/01", "/channel/1x",
        "/channel/-1", "/channel/999999999999", "/channels/1", "channel/1", "/channel/ 1"})
    EXPECT_EQ(rtspChannelOfPath(path), -1) << path;
}

TEST(RtspMpeg4, AMediaStartsOnlyOnAKeyFrameThatCarriesItsConfiguration) {
  dvremu::Mpeg4Encoder encoder;
  ASSERT_TRUE(encoder.open(176, 144, 25, 10));
  dvremu::RgbImage image;
  image.resize(176, 144);
  std::vector<uint8_t> key;
  std::vector<uint8_t> next;
  bool isKey = false;
  ASSERT_TRUE(encoder.encode(image, &key, &isKey));
  ASSERT_TRUE(isKey);
  image.at(10, 10)[0] = 255;
  ASSERT_TRUE(encoder.encode(image, &next, &isKey));
  ASSERT_FALSE(isKey);
  EXPECT_TRUE(carriesMpeg4Config(key.data(), key.size()));
  EXPECT_FALSE(carriesMpeg4Config(next.data(), next.size()));
  // The key frame's picture alone, without its configuration.
  for (size_t i = 0; i + 3 < key.size(); ++i) {
    if (key[i] == 0 && key[i + 1] == 0 && key[i + 2] == 1 && key[i + 3] == 0xB6) {
      EXPECT_FALSE(carriesMpeg4Config(key.data() + i, key.size() - i));
      break;
    }
  }
  // Cut short, empty, or null: never read past the data.
  for (size_t length = 0; length < 8 && length < key.size(); ++length)
    EXPECT_FALSE(carriesMpeg4Config(key.data(), length)) << length;
  EXPECT_FALSE(carriesMpeg4Config(nullptr, 100));
}

TEST(RtspAudioSink, DecodesLikeThePlayerAndHandsTheSamplesToTheAudiosChannel) {
  struct Delivery {
    uint8_t channel;
    std::vector<int16_t> samples;
  };
  std::vector<Delivery> got;
  CRtspAudioSink sink([&](uint8_t channel, const int16_t* samples, size_t count,
                          std::chrono::steady_clock::time_point) {
    got.push_back({channel, std::vector<int16_t>(samples, samples + count)});
  });
  std::vector<uint8_t> block(800);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 37 + 11);

  // No channel has the audio: nothing goes anywhere.
  EXPECT_EQ(sink.playG726(block.data(), static_cast<uint32_t>(block.size())), 0);
  EXPECT_TRUE(got.empty());

  sink.setChannel(5);
  ASSERT_EQ(sink.open(0), 0);
  sink.playG726(block.data(), static_cast<uint32_t>(block.size()));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].channel, 5);
  G726LibraryState reference;
  std::vector<int16_t> expected(g726::kMaxOutputBytes / 2);
  const int32_t count = g726::decode(block.data(), expected.data(), 800, reference);
  expected.resize(static_cast<size_t>(count));
  EXPECT_EQ(got[0].samples, expected);

  // open() starts a fresh stream: the same block decodes the same again.
  sink.open(0);
  sink.playG726(block.data(), static_cast<uint32_t>(block.size()));
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].samples, expected);

  // The largest block the DVR may send is decoded whole; a larger one is cut, not overrun.
  std::vector<uint8_t> large(20000, 0x5A);
  sink.playG726(large.data(), 5120);
  EXPECT_EQ(got.back().samples.size(), 10240u);
  sink.playG726(large.data(), static_cast<uint32_t>(large.size()));
  EXPECT_EQ(got.back().samples.size(), CRtspAudioSink::kMaxSamples);

  // The 3-bit codes: eight samples every three bytes.
  sink.setMode(AudioCodecMode::Adpcm);
  EXPECT_EQ(sink.mode(), AudioCodecMode::Adpcm);
  sink.playAdpcm(large.data(), 600);
  EXPECT_EQ(got.back().samples.size(), 1600u);
  sink.playAdpcm(large.data(), static_cast<uint32_t>(large.size()));
  EXPECT_LE(got.back().samples.size(), CRtspAudioSink::kMaxSamples);

  sink.setChannel(-1);
  const size_t before = got.size();
  sink.playAdpcm(large.data(), 600);
  sink.playG726(nullptr, 100);
  EXPECT_EQ(got.size(), before);
}

TEST(RtspChannel, ADescribeWaitsBoundedForTheCodecAndCountsAsAWatcher) {
  CRtspChannel channel(2);
  EXPECT_EQ(channel.watchers(), 0);
  EXPECT_FALSE(channel.watchedSince().has_value());
  // Nothing comes: the wait ends with no codec.
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(channel.waitForCodec(std::chrono::milliseconds(150)).has_value());
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(150));
  EXPECT_EQ(channel.watchers(), 0);

  // The channel is watched while the wait lasts, and the first frame ends it.
  std::atomic<bool> done{false};
  std::optional<LiveCodec> codec;
  std::thread waiter([&] {
    codec = channel.waitForCodec(std::chrono::seconds(30));
    done = true;
  });
  while (channel.watchers() == 0) std::this_thread::yield();
  EXPECT_EQ(channel.watchers(), 1);
  EXPECT_FALSE(done.load());
  const uint8_t frame[] = {0x00, 0x00, 0x01, 0xB6, 0x10};
  channel.pushVideo(LiveCodec::Mpeg4, frame, sizeof frame, std::chrono::steady_clock::now());
  waiter.join();
  ASSERT_TRUE(codec.has_value());
  EXPECT_EQ(*codec, LiveCodec::Mpeg4);
  EXPECT_EQ(channel.watchers(), 0);
  // Known from then on, without waiting.
  EXPECT_EQ(channel.waitForCodec(std::chrono::milliseconds(0)), LiveCodec::Mpeg4);
  EXPECT_NE(CRtspChannel::pipelineFor(LiveCodec::Mpeg4).find("rtpmp4vpay name=pay0"),
            std::string::npos);
  EXPECT_NE(CRtspChannel::pipelineFor(LiveCodec::Jpeg).find("rtpjpegpay name=pay0 pt=26"),
            std::string::npos);
}

TEST(BridgeOptions, RtspAddressOffAndTheAuthRule) {
  BridgeOptions options;
  ASSERT_TRUE(parseBridgeArguments({"--connect", "dvr", "--user", "u"}, &options, noFiles).ok);
  EXPECT_TRUE(options.rtspEnabled);
  EXPECT_EQ(options.rtsp.host, "127.0.0.1");
  EXPECT_EQ(options.rtsp.port, 8554);
  ASSERT_TRUE(parseBridgeArguments({"--rtsp", "localhost:9554"}, &options, noFiles).ok);
  EXPECT_EQ(options.rtsp.port, 9554);
  EXPECT_TRUE(checkBridgeOptions(options).ok);
  ASSERT_TRUE(parseBridgeArguments({"--rtsp", "off"}, &options, noFiles).ok);
  EXPECT_FALSE(options.rtspEnabled);
  for (const char* bad : {"", "8554", "on", "::1:8554", "host.example:8554", "1.2.3.4:70000"}) {
    BridgeOptions other;
    EXPECT_FALSE(parseBridgeArguments({"--rtsp", bad}, &other, noFiles).ok) << bad;
  }
  // A public RTSP address needs users (or --no-auth), even with HTTP on loopback; off needs none.
  BridgeOptions open;
  ASSERT_TRUE(parseBridgeArguments({"--connect", "dvr", "--user", "u", "--rtsp", "0.0.0.0:8554"},
                                   &open, noFiles)
                  .ok);
  EXPECT_FALSE(checkBridgeOptions(open).ok);
  EXPECT_NE(checkBridgeOptions(open).error.find("--rtsp"), std::string::npos);
  open.authFile = "/etc/users";
  EXPECT_TRUE(checkBridgeOptions(open).ok);
  open.authFile.clear();
  ASSERT_TRUE(parseBridgeConfig("rtsp = none\n", &open).ok);
  EXPECT_TRUE(checkBridgeOptions(open).ok);
}

TEST(BridgeDocuments, StatusAndMetricsCountRtspClients) {
  BridgeView view;
  view.channels[0].offered = true;
  view.channels[0].rtspClients = 3;
  view.channels[0].counters.clients = 2;
  const std::string json = renderStatusJson(view);
  EXPECT_NE(json.find("\"clients\":2,\"rtsp_clients\":3,"), std::string::npos) << json;
  const std::string metrics = renderMetrics(view);
  EXPECT_NE(metrics.find("\npelloxview_bridge_rtsp_clients{channel=\"1\"} 3\n"), std::string::npos)
      << metrics;
  EXPECT_NE(metrics.find("# TYPE pelloxview_bridge_rtsp_clients gauge\n"), std::string::npos);
}

TEST(BridgeDocuments, StatusAndMetricsShowHowTheJpegFramesFitRtp) {
  BridgeView view;
  view.channels[0].offered = true;
  view.channels[0].fits = {120, 7, 3, 1};
  view.channels[2].offered = true;       // an MPEG-4 channel, or one no RTSP client watched
  view.channels[5].fits = {9, 9, 9, 9};  // not offered: shown nowhere
  const std::string json = renderStatusJson(view);
  EXPECT_NE(json.find("\"frames_skipped\":0,\"rtp_jpeg_fit\":{\"untouched\":120,"
                      "\"transcoded\":7,\"reencoded\":3,\"unusable\":1}}"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("{\"channel\":3,"), std::string::npos) << json;
  EXPECT_NE(json.find("\"rtp_jpeg_fit\":{\"untouched\":0,\"transcoded\":0,\"reencoded\":0,"
                      "\"unusable\":0}}]}"),
            std::string::npos)
      << json;
  const std::string metrics = renderMetrics(view);
  const std::string name = "pelloxview_bridge_rtp_jpeg_fit_total";
  EXPECT_NE(metrics.find("# TYPE " + name + " counter\n"), std::string::npos) << metrics;
  for (const char* line :
       {"{channel=\"1\",result=\"untouched\"} 120\n", "{channel=\"1\",result=\"transcoded\"} 7\n",
        "{channel=\"1\",result=\"reencoded\"} 3\n", "{channel=\"1\",result=\"unusable\"} 1\n",
        "{channel=\"3\",result=\"untouched\"} 0\n", "{channel=\"3\",result=\"unusable\"} 0\n"})
    EXPECT_NE(metrics.find("\n" + name + line), std::string::npos) << line << metrics;
  EXPECT_EQ(metrics.find("channel=\"6\""), std::string::npos) << metrics;
}

TEST(VideoPacing, ABurstIsSpreadOutAndTheTimestampsCatchUpWithTheArrivals) {
  constexpr int64_t kMs = 1'000'000;
  CFrameInterval interval;
  EXPECT_EQ(interval.meanNs(), 0);
  int64_t last = -1;
  std::vector<int64_t> stamps;
  const auto frame = [&](int64_t arrival) {
    interval.arrived(arrival);
    last = pacedTimestamp(arrival, last, interval.meanNs());
    stamps.push_back(last);
  };
  // Steady 25 frames a second: the arrivals themselves.
  for (int n = 0; n < 50; ++n) frame(n * 40 * kMs);
  EXPECT_EQ(stamps.back(), 49 * 40 * kMs);
  EXPECT_NEAR(static_cast<double>(interval.meanNs()), 40.0 * kMs, 1.0 * kMs);
  // A stall, then five frames at once, then steady again: spread a whole interval apart.
  const int64_t stall = 49 * 40 * kMs + 200 * kMs;
  for (int n = 0; n < 5; ++n) frame(stall + n * kMs);
  for (size_t i = stamps.size() - 4; i < stamps.size(); ++i)
    EXPECT_GE(stamps[i] - stamps[i - 1], 38 * kMs) << i;
  for (int n = 1; n <= 40; ++n) frame(stall + n * 40 * kMs);
  EXPECT_LE(stamps.back() - (stall + 40 * 40 * kMs), 200 * kMs);
  // A long stall and a long burst: the stamps fall behind, then come back within 200 ms.
  const int64_t burst = stall + 40 * 40 * kMs + 1200 * kMs;
  for (int n = 0; n < 30; ++n) frame(burst + n * kMs);
  EXPECT_LE(stamps.back() - (burst + 29 * kMs), 1500 * kMs);
  for (size_t i = stamps.size() - 29; i < stamps.size(); ++i)
    EXPECT_GE(stamps[i] - stamps[i - 1], 15 * kMs) << i;
  const int64_t resumed = burst + 30 * kMs;
  for (int n = 1; n <= 100; ++n) frame(resumed + n * 40 * kMs);
  EXPECT_LE(stamps.back() - (resumed + 100 * 40 * kMs), 200 * kMs);
  // Never backwards, whatever the clock does; the first frame of a stream at its arrival.
  frame(0);
  EXPECT_GT(stamps.back(), stamps[stamps.size() - 2]);
  EXPECT_EQ(pacedTimestamp(-5, -1, 0), 0);
  EXPECT_EQ(pacedTimestamp(7 * kMs, -1, 40 * kMs), 7 * kMs);
  EXPECT_EQ(pacedTimestamp(5 * kMs, 5 * kMs, 0), 6 * kMs);
}
