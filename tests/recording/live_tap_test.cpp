// The tap passes every call through untouched and keeps the newest picture for snapshots.
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "recording/live_tap.h"
#include "tap_fixtures.h"

using taptest::CRecordingSinks;
using taptest::LiveFrame;

namespace {

// Every call reaches the sinks with the same pointer, length and bytes, and their results come
// back, whether or not a recording runs.
TEST(LiveTap, ForwardsEveryCallUnchanged) {
  QTemporaryDir dir;
  for (const bool recording : {false, true}) {
    SCOPED_TRACE(recording ? "recording" : "idle");
    CRecordingSinks sinks;
    CLiveTap tap(sinks, sinks, sinks);
    std::string error;
    if (recording) {
      ASSERT_TRUE(tap.startRecording(dir.filePath("f.mkv").toStdString(),
                                     platform::ExistingFile::Refuse, &error));
    }
    LiveFrame jpeg = taptest::jpegFrame(64, 48);
    LiveFrame codec = taptest::mpeg4Frames(176, 144, 1, 1)[0];
    const std::vector<uint8_t> jpegBefore(jpeg.buffer.begin(), jpeg.buffer.begin() + jpeg.length);
    const std::vector<uint8_t> audio = {1, 2, 3, 4, 5, 6};

    EXPECT_TRUE(tap.drawJpegFrame(jpeg.data(), jpeg.length));
    EXPECT_FALSE(tap.decodeFrame(codec.data(), codec.length));
    EXPECT_EQ(tap.open(42), 7);
    tap.setMode(AudioCodecMode::Adpcm);
    EXPECT_EQ(tap.mode(), AudioCodecMode::Adpcm);
    EXPECT_EQ(tap.playAdpcm(audio.data(), 6), 13);
    EXPECT_EQ(tap.playG726(audio.data(), 5), 11);
    tap.close();
    tap.finishRecordings();

    ASSERT_EQ(sinks.calls.size(), 6u);
    const std::vector<std::string> order = {"jpeg", "decode", "open", "adpcm", "g726", "close"};
    for (size_t i = 0; i < order.size(); ++i) EXPECT_EQ(sinks.calls[i].what, order[i]);
    EXPECT_EQ(sinks.calls[0].data, jpeg.data());
    EXPECT_EQ(sinks.calls[0].bytes, jpegBefore);
    EXPECT_EQ(sinks.calls[1].data, codec.data());
    EXPECT_EQ(sinks.calls[1].bytes,
              std::vector<uint8_t>(codec.buffer.begin(), codec.buffer.begin() + codec.length));
    EXPECT_EQ(sinks.calls[2].length, 42u);
    EXPECT_EQ(sinks.calls[3].data, audio.data());
    EXPECT_EQ(sinks.calls[3].length, 6u);
    EXPECT_EQ(sinks.calls[4].length, 5u);
  }
}

// The snapshot is the JPEG at its own size (not rounded to whole blocks, filler before the image
// skipped) with the image's pixels, even though the renderer rewrote the frame in place.
TEST(LiveTap, JpegSnapshotHasTheImagesSizeAndPixels) {
  struct Case {
    int width, height;
    size_t filler;
  };
  for (const Case c : {Case{100, 75, 0}, Case{352, 240, 3}, Case{704, 480, 0}}) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    CRecordingSinks sinks;
    CLiveTap tap(sinks, sinks, sinks);
    EXPECT_TRUE(tap.snapshot().isNull());
    LiveFrame older = taptest::jpegFrame(c.width, c.height, 5, c.filler);
    tap.drawJpegFrame(older.data(), older.length);
    const std::vector<uint8_t> bgr = testing_video::testScene(c.width, c.height, 1);
    const std::vector<uint8_t> jpeg = testing_video::encodeJpeg(bgr, c.width, c.height);
    LiveFrame newest = taptest::liveFrame(jpeg, c.filler);
    tap.drawJpegFrame(newest.data(), newest.length);

    const QImage shot = tap.snapshot();
    ASSERT_EQ(shot.size(), QSize(c.width, c.height));
    int width = 0, height = 0;
    const std::vector<uint8_t> reference = testing_video::decodeJpeg(jpeg, width, height);
    int worst = 0;
    for (int y = 0; y < c.height; ++y) {
      for (int x = 0; x < c.width; ++x) {
        const uint8_t* ref = &reference[(static_cast<size_t>(y) * width + x) * 3];
        const QRgb got = shot.pixel(x, y);
        worst = std::max({worst, std::abs(qRed(got) - ref[2]), std::abs(qGreen(got) - ref[1]),
                          std::abs(qBlue(got) - ref[0])});
      }
    }
    EXPECT_LE(worst, 8);
    tap.clearSnapshot();
    EXPECT_TRUE(tap.snapshot().isNull());
  }
}

// MPEG-4: the snapshot decodes the frames since the newest key frame at the stream's size; before
// the first key frame there is none.
TEST(LiveTap, Mpeg4SnapshotDecodesFromTheNewestKeyFrame) {
  CRecordingSinks sinks;
  CLiveTap tap(sinks, sinks, sinks);
  std::vector<LiveFrame> frames = taptest::mpeg4Frames(352, 288, 11, 4);
  for (int i : {1, 2, 3}) tap.decodeFrame(frames[i].data(), frames[i].length);  // after a key
  EXPECT_TRUE(tap.snapshot().isNull());
  for (int i = 4; i < 11; ++i) tap.decodeFrame(frames[i].data(), frames[i].length);
  const QImage shot = tap.snapshot();
  ASSERT_EQ(shot.size(), QSize(352, 288));

  // The same picture as a decoder that saw the whole stream, scaled the same way.
  testing_video::CReferenceDecoder reference(352);
  std::vector<uint16_t> last;
  for (const auto& picture : testing_video::encodeMpeg4(352, 288, 11, 4)) {
    auto decoded = reference.decode(picture.packet);
    if (!decoded.empty()) last = decoded;
  }
  ASSERT_EQ(last.size(), 352u * 264u);
  const QImage scaled = shot.scaled(352, 264).convertToFormat(QImage::Format_RGB888);
  int close = 0;
  for (int y = 0; y < 264; y += 8) {
    for (int x = 0; x < 352; x += 8) {
      const uint16_t want = last[static_cast<size_t>(y) * 352 + x];
      const QRgb got = scaled.pixel(x, y);
      close += std::abs(qRed(got) - ((want >> 11) << 3)) < 40 &&
               std::abs(qGreen(got) - (((want >> 5) & 63) << 2)) < 40;
    }
  }
  EXPECT_GT(close, 44 * 33 * 9 / 10);
}

// A key-frame group beyond the bound is dropped; the next key frame starts over.
TEST(LiveTap, Mpeg4GroupBeyondTheBoundWaitsForTheNextKeyFrame) {
  CRecordingSinks sinks;
  CLiveTap tap(sinks, sinks, sinks);
  std::vector<LiveFrame> frames = taptest::mpeg4Frames(176, 144, 6, 5);
  tap.decodeFrame(frames[0].data(), frames[0].length);
  ASSERT_FALSE(tap.snapshot().isNull());
  // Inter frames padded to 1 MiB each: nine of them pass the 8 MiB bound.
  std::vector<uint8_t> big(frames[1].buffer.begin() + 16,
                           frames[1].buffer.begin() + frames[1].length);
  big.resize(size_t{1} << 20, 0);
  LiveFrame padded = taptest::liveFrame(big);
  for (int i = 0; i < 9; ++i) tap.decodeFrame(padded.data(), padded.length);
  EXPECT_TRUE(tap.snapshot().isNull());
  tap.decodeFrame(frames[5].data(), frames[5].length);  // the next key frame
  EXPECT_EQ(tap.snapshot().size(), QSize(176, 144));
}

}  // namespace

namespace {

// The three threads the tap serves at once: pictures on the stream thread, audio on the audio
// thread, snapshots and recordings started and stopped on the UI thread (run under TSan too).
TEST(LiveTap, StreamAudioAndUiThreadsShareTheTap) {
  QTemporaryDir dir;
  CRecordingSinks video, audio;
  CLiveTap tap(video, video, audio);
  std::atomic<bool> running{true};
  const LiveFrame pristine = taptest::jpegFrame(352, 240);
  std::thread stream([&] {
    while (running) {
      LiveFrame frame = pristine;
      tap.drawJpegFrame(frame.data(), frame.length);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  std::thread sound([&] {
    const std::vector<uint8_t> payload(800, 0x5A);
    while (running) {
      tap.playG726(payload.data(), 800);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  int snapshots = 0;
  for (int round = 0; round < 6; ++round) {
    std::string error;
    ASSERT_TRUE(tap.startRecording(dir.filePath(QString("r%1.mkv").arg(round)).toStdString(),
                                   platform::ExistingFile::Refuse, &error))
        << error;
    for (int i = 0; i < 5; ++i) {
      snapshots += tap.snapshot().size() == QSize(352, 240);
      EXPECT_TRUE(tap.recording());
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    tap.finishRecordings();
    EXPECT_EQ(tap.recordingStats().end, recording::RecordingEnd::Stopped);
  }
  running = false;
  stream.join();
  sound.join();
  EXPECT_GT(snapshots, 0);
  const taptest::Probe probe = taptest::ffprobe(dir.filePath("r5.mkv"));
  ASSERT_TRUE(probe.ok) << probe.error;
  EXPECT_EQ(probe.find("video")->frames, static_cast<int>(tap.recordingStats().videoFrames));
}

}  // namespace
