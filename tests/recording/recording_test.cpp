// Recordings of the live stream, checked from the outside with ffprobe and ffmpeg.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <unistd.h>
#include <atomic>
#include <chrono>
#include <thread>

#include "audio/adpcm_decoder.h"
#include "audio/g726_library.h"
#include "recording/live_tap.h"
#include "tap_fixtures.h"

using recording::RecordingEnd;
using taptest::CRecordingSinks;
using taptest::LiveFrame;

namespace {

constexpr int64_t kFrameMs = 40;

// A tap whose clock the test moves.
struct Rig {
  QTemporaryDir dir;  // outlives the tap, which closes its recording when it goes
  CRecordingSinks sinks;
  std::atomic<int64_t> now{100000};
  CLiveTap tap{sinks, sinks, sinks, [this] { return now.load(); }};
  QString file(const char* name) const { return dir.filePath(name); }
  bool start(const QString& path) {
    std::string error;
    const bool ok = tap.startRecording(path.toStdString(), &error);
    EXPECT_TRUE(ok) << error;
    return ok;
  }
};

std::vector<uint8_t> audioPayload(size_t length, int seed) {
  std::vector<uint8_t> payload(length);
  for (size_t i = 0; i < length; ++i)
    payload[i] = static_cast<uint8_t>((i * 37 + seed * 11) ^ i >> 3);
  return payload;
}

// 25 JPEG pictures at 25 per second with a 200 ms G.726 block after every fifth: one second of
// Motion JPEG and PCM that decodes to exactly the samples the system's G.726 decoder gives.
TEST(Recording, JpegFramesAndG726AudioMakeAPlayableFile) {
  Rig rig;
  LiveFrame before = taptest::jpegFrame(352, 240);
  rig.tap.drawJpegFrame(before.data(), before.length);  // not part of the file
  // A relative name with a colon is a file name, not a URL scheme.
  const QString cwd = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(rig.dir.path()));
  std::string error;
  const bool started = rig.tap.startRecording("clip12:00.mkv", &error);
  QDir::setCurrent(cwd);
  ASSERT_TRUE(started) << error;
  const QString path = rig.file("clip12:00.mkv");
  EXPECT_TRUE(rig.tap.recording());
  EXPECT_EQ(rig.tap.recordingPath(), "clip12:00.mkv");

  G726LibraryState reference;
  std::vector<int16_t> expected;
  for (int i = 0; i < 25; ++i) {
    LiveFrame frame = taptest::jpegFrame(352, 240, i);
    rig.tap.drawJpegFrame(frame.data(), frame.length);
    rig.now += kFrameMs;
    if (i % 5 == 4) {
      const std::vector<uint8_t> payload = audioPayload(800, i);
      rig.tap.playG726(payload.data(), 800);
      std::vector<int16_t> pcm(g726::kMaxOutputBytes / 2);
      pcm.resize(g726::decode(payload.data(), pcm.data(), 800, reference));
      expected.insert(expected.end(), pcm.begin(), pcm.end());
    }
  }
  rig.tap.stopRecording();
  EXPECT_FALSE(rig.tap.recording());
  EXPECT_EQ(rig.tap.recordingPath(), "");
  const recording::RecordingStats stats = rig.tap.recordingStats();
  EXPECT_EQ(stats.end, RecordingEnd::Stopped);
  EXPECT_EQ(stats.videoFrames, 25u);
  EXPECT_EQ(stats.audioBlocks, 5u);
  EXPECT_EQ(stats.droppedFrames, 0u);

  const taptest::Probe probe = taptest::ffprobe(path);
  ASSERT_TRUE(probe.ok) << probe.error;
  const auto* video = probe.find("video");
  const auto* audio = probe.find("audio");
  ASSERT_TRUE(video != nullptr && audio != nullptr);
  EXPECT_EQ(video->codec, "mjpeg");
  EXPECT_EQ(video->frames, 25);
  EXPECT_EQ(video->width, 352);
  EXPECT_EQ(video->height, 240);
  EXPECT_EQ(audio->codec, "pcm_s16le");
  EXPECT_EQ(audio->sampleRate, 8000);
  EXPECT_EQ(audio->channels, 1);
  EXPECT_NEAR(probe.durationSeconds, 1.0, 0.05);
  EXPECT_EQ(taptest::audioSamples(path), expected);
}

// MPEG-4: the file starts at the next key frame and carries 3-bit audio as decoded PCM.
TEST(Recording, Mpeg4StartsAtTheNextKeyFrame) {
  Rig rig;
  std::vector<LiveFrame> frames = taptest::mpeg4Frames(352, 288, 20, 5);
  const QString path = rig.file("mpeg4.mkv");
  CAdpcmDecoder reference;
  std::vector<int16_t> expected;
  for (int i = 0; i < 20; ++i) {
    if (i == 2) {
      ASSERT_TRUE(rig.start(path));  // frames 2..4 precede the next key frame
    }
    rig.tap.decodeFrame(frames[i].data(), frames[i].length);
    rig.now += kFrameMs;
    if (i == 9 || i == 14) {
      const std::vector<uint8_t> payload = audioPayload(600, i);
      rig.tap.playAdpcm(payload.data(), 600);
      std::vector<int16_t> pcm(1600);
      ASSERT_EQ(reference.decode(payload.data(), 600, pcm.data(), 1600), 1600);
      expected.insert(expected.end(), pcm.begin(), pcm.end());
    }
  }
  rig.tap.stopRecording();
  EXPECT_EQ(rig.tap.recordingStats().videoFrames, 15u);

  const taptest::Probe probe = taptest::ffprobe(path);
  ASSERT_TRUE(probe.ok) << probe.error;
  const auto* video = probe.find("video");
  ASSERT_TRUE(video != nullptr && probe.find("audio") != nullptr);
  EXPECT_EQ(video->codec, "mpeg4");
  EXPECT_EQ(video->frames, 15);
  EXPECT_EQ(video->width, 352);
  EXPECT_EQ(video->height, 288);
  EXPECT_NEAR(probe.durationSeconds, 0.6, 0.05);
  // The recording's decoder has its own state, from the file's first block on.
  EXPECT_EQ(taptest::audioSamples(path), expected);
}

// Another channel with another size or codec ends the file as stop would: the trailer is there
// and the handler hears why.
TEST(Recording, ChangedSizeOrCodecEndsTheFileCleanly) {
  for (const bool codecChange : {false, true}) {
    SCOPED_TRACE(codecChange ? "codec" : "size");
    Rig rig;
    std::atomic<int> ended{0};
    std::atomic<RecordingEnd> why{RecordingEnd::Running};
    rig.tap.setRecordingEndedHandler([&](const recording::RecordingStats& stats) {
      why = stats.end;
      ++ended;
    });
    const QString path = rig.file("change.mkv");
    ASSERT_TRUE(rig.start(path));
    for (int i = 0; i < 5; ++i) {
      LiveFrame frame = taptest::jpegFrame(352, 240, i);
      rig.tap.drawJpegFrame(frame.data(), frame.length);
      rig.now += kFrameMs;
    }
    if (codecChange) {
      LiveFrame other = taptest::mpeg4Frames(352, 240, 1, 1)[0];
      rig.tap.decodeFrame(other.data(), other.length);
    } else {
      LiveFrame other = taptest::jpegFrame(704, 480);
      rig.tap.drawJpegFrame(other.data(), other.length);
    }
    EXPECT_FALSE(rig.tap.recording());
    for (int i = 0; i < 500 && ended == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(why, RecordingEnd::StreamChanged);
    const taptest::Probe probe = taptest::ffprobe(path);
    ASSERT_TRUE(probe.ok) << probe.error;
    EXPECT_EQ(probe.find("video")->frames, 5);
    EXPECT_NEAR(probe.durationSeconds, 0.2, 0.05);  // only a trailer writes the duration
    // A new recording can start at once.
    EXPECT_TRUE(rig.start(rig.file("next.mkv")));
  }
}

// The file is readable while it is being written (as after a crash): everything up to the last
// picture is on disk.
TEST(Recording, FileIsReadableBeforeItIsClosed) {
  Rig rig;
  const QString path = rig.file("live.mkv");
  ASSERT_TRUE(rig.start(path));
  for (int i = 0; i < 10; ++i) {
    LiveFrame frame = taptest::jpegFrame(352, 240, i);
    rig.tap.drawJpegFrame(frame.data(), frame.length);
    rig.now += kFrameMs;
  }
  for (int i = 0; i < 500 && rig.tap.recordingStats().videoFrames < 10; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const QString copy = rig.file("copy.mkv");
  ASSERT_TRUE(QFile::copy(path, copy));
  const taptest::Probe probe = taptest::ffprobe(copy);
  ASSERT_TRUE(probe.ok) << probe.error;
  EXPECT_GE(probe.find("video")->frames, 9);
}

TEST(Recording, RefusalsAndEmptyRecordings) {
  Rig rig;
  std::string error;
  EXPECT_FALSE(rig.tap.startRecording(rig.file("missing/dir/x.mkv").toStdString(), &error));
  EXPECT_NE(error.find("missing/dir/x.mkv"), std::string::npos) << error;
  EXPECT_FALSE(rig.tap.recording());

  ASSERT_TRUE(rig.start(rig.file("a.mkv")));
  EXPECT_FALSE(rig.tap.startRecording(rig.file("b.mkv").toStdString(), &error));
  EXPECT_NE(error.find("a.mkv"), std::string::npos);
  // Stopped before any picture: no empty, unplayable file is left.
  rig.tap.stopRecording();
  EXPECT_FALSE(QFile::exists(rig.file("a.mkv")));
  EXPECT_FALSE(QFile::exists(rig.file("b.mkv")));
  rig.tap.stopRecording();  // twice is harmless
}

// A writer that can't keep up never holds up the stream: the pictures that don't fit the queue
// are dropped and counted.
TEST(Recording, SlowDiskDropsFramesInsteadOfBlocking) {
  Rig rig;
  const QString path = rig.file("slow.fifo");
  ASSERT_EQ(mkfifo(path.toLocal8Bit().constData(), 0600), 0);
  const int reader = ::open(path.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  ASSERT_TRUE(rig.start(path));  // nothing reads the pipe yet: the writer soon blocks
  const LiveFrame pristine = taptest::jpegFrame(704, 480);
  LiveFrame frame = pristine;
  const int offered = 400;
  const auto began = std::chrono::steady_clock::now();
  for (int i = 0; i < offered; ++i) {
    rig.tap.drawJpegFrame(frame.data(), frame.length);
    frame = pristine;  // the renderer stand-in rewrote the frame's end
    rig.now += kFrameMs;
  }
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(60));
  EXPECT_GT(rig.tap.recordingStats().droppedFrames, 0u);

  std::thread drain([reader] {
    fcntl(reader, F_SETFL, 0);
    char buffer[65536];
    while (::read(reader, buffer, sizeof buffer) > 0) {
    }
  });
  rig.tap.stopRecording();
  drain.join();
  ::close(reader);
  const recording::RecordingStats stats = rig.tap.recordingStats();
  EXPECT_EQ(stats.videoFrames + stats.droppedFrames, static_cast<uint64_t>(offered));
}

}  // namespace
