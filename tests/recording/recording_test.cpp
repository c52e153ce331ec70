// Recordings of the live stream, checked from the outside with ffprobe and ffmpeg.
#include <QDir>
#include <QFile>
#include <QFileInfo>
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
  bool start(const QString& path,
             platform::ExistingFile existing = platform::ExistingFile::Refuse) {
    std::string error;
    const bool ok = tap.startRecording(path.toStdString(), existing, &error);
    EXPECT_TRUE(ok) << error;
    return ok;
  }
  // The next thing the writer reports (a created file, or an end); end Running and an empty
  // path when nothing came in time.
  recording::RecordingStats nextEvent(int timeoutMs = 5000) {
    for (int i = 0; i <= timeoutMs / 10; ++i) {
      if (pending.empty()) {
        for (auto& event : tap.takeRecordingEvents()) pending.push_back(std::move(event));
      }
      if (!pending.empty()) {
        recording::RecordingStats event = pending.front();
        pending.erase(pending.begin());
        return event;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {};
  }
  std::vector<recording::RecordingStats> pending;
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
  const bool started =
      rig.tap.startRecording("clip12:00.mkv", platform::ExistingFile::Refuse, &error);
  const recording::RecordingStats created = rig.nextEvent();  // the writer creates it
  QDir::setCurrent(cwd);
  ASSERT_TRUE(started) << error;
  EXPECT_TRUE(created.created) << created.error;
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
  rig.tap.finishRecordings();
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
  rig.tap.finishRecordings();
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
    rig.tap.setRecordingEventHandler([&](const recording::RecordingStats& stats) {
      if (stats.end == RecordingEnd::Running) return;  // the file was created
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
  // The writer finds out that the file can't be created, and says why.
  ASSERT_TRUE(rig.start(rig.file("missing/dir/x.mkv")));
  recording::RecordingStats failed = rig.nextEvent();
  EXPECT_EQ(failed.end, RecordingEnd::WriteFailed);
  EXPECT_FALSE(failed.created);
  EXPECT_NE(failed.error.find("missing/dir/x.mkv"), std::string::npos) << failed.error;
  EXPECT_FALSE(rig.tap.recording());

  std::string error;
  ASSERT_TRUE(rig.start(rig.file("a.mkv")));
  EXPECT_FALSE(rig.tap.startRecording(rig.file("b.mkv").toStdString(),
                                      platform::ExistingFile::Refuse, &error));
  EXPECT_NE(error.find("a.mkv"), std::string::npos);
  // Stopped before any picture: no empty, unplayable file is left, and nothing counts as saved.
  rig.tap.finishRecordings();
  EXPECT_FALSE(QFile::exists(rig.file("a.mkv")));
  EXPECT_FALSE(QFile::exists(rig.file("b.mkv")));
  EXPECT_TRUE(rig.nextEvent().created);
  const recording::RecordingStats empty = rig.nextEvent();
  EXPECT_EQ(empty.end, RecordingEnd::Stopped);
  EXPECT_FALSE(empty.saved());
  EXPECT_EQ(empty.picturesBeforeStart, 0u);
  rig.tap.finishRecordings();  // twice is harmless
}

// MPEG-4 stopped before the next key frame: the file goes, and the figures tell why.
TEST(Recording, Mpeg4StoppedBeforeAKeyFrameRecordsNothing) {
  Rig rig;
  std::vector<LiveFrame> frames = taptest::mpeg4Frames(176, 144, 6, 10);
  rig.tap.decodeFrame(frames[0].data(), frames[0].length);  // the key frame, before the start
  ASSERT_TRUE(rig.start(rig.file("short.mkv")));
  for (int i = 1; i < 6; ++i) rig.tap.decodeFrame(frames[i].data(), frames[i].length);
  ASSERT_TRUE(rig.tap.finishRecordings());
  const recording::RecordingStats stats = rig.tap.recordingStats();
  EXPECT_FALSE(stats.saved());
  EXPECT_EQ(stats.videoFrames, 0u);
  EXPECT_EQ(stats.picturesBeforeStart, 5u);
  EXPECT_FALSE(QFile::exists(rig.file("short.mkv")));
}

// Existing names: refused, numbered, or replaced as asked; a link at the name is never
// followed; what is created is private to the user.
TEST(Recording, ExistingNamesAndLinksAreNeverWrittenThrough) {
  Rig rig;
  const QString taken = rig.file("taken.mkv");
  const QString victim = rig.file("victim");
  const QString link = rig.file("link.mkv");
  for (const QString& path : {taken, victim}) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("old");
  }
  ASSERT_TRUE(QFile::link(victim, link));
  const auto record = [&rig](const QString& path, platform::ExistingFile existing) {
    EXPECT_TRUE(rig.start(path, existing));
    for (int i = 0; i < 3; ++i) {
      LiveFrame frame = taptest::jpegFrame(64, 48, i);
      rig.tap.drawJpegFrame(frame.data(), frame.length);
      rig.now += kFrameMs;
    }
    rig.tap.finishRecordings();
    const recording::RecordingStats first = rig.nextEvent();
    if (first.end != RecordingEnd::Running) return std::string();  // nothing was created
    const recording::RecordingStats last = rig.nextEvent();
    return last.saved() ? first.path : "not saved: " + last.error;
  };
  const auto contents = [](const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("missing");
  };
  EXPECT_EQ(record(taken, platform::ExistingFile::Refuse), "");
  EXPECT_EQ(contents(taken), "old");
  EXPECT_EQ(record(link, platform::ExistingFile::Refuse), "");
  EXPECT_EQ(record(link, platform::ExistingFile::Replace), "");
  EXPECT_EQ(contents(victim), "old");
  EXPECT_TRUE(QFileInfo(link).isSymLink());

  EXPECT_EQ(record(taken, platform::ExistingFile::Numbered), rig.file("taken-2.mkv").toStdString());
  EXPECT_EQ(record(taken, platform::ExistingFile::Numbered), rig.file("taken-3.mkv").toStdString());
  EXPECT_EQ(record(link, platform::ExistingFile::Numbered), rig.file("link-2.mkv").toStdString());
  EXPECT_EQ(contents(taken), "old");
  EXPECT_EQ(contents(victim), "old");
  for (const char* name : {"taken-2.mkv", "taken-3.mkv", "link-2.mkv"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(taptest::ffprobe(rig.file(name)).find("video")->frames, 3);
    struct stat status {};
    ASSERT_EQ(::stat(rig.file(name).toLocal8Bit().constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
  }
  EXPECT_EQ(record(taken, platform::ExistingFile::Replace), taken.toStdString());
  EXPECT_EQ(taptest::ffprobe(taken).find("video")->frames, 3);
}

// Storage that stops answering (a FIFO nobody reads stands in for a hung share): starting and
// stopping return at once, and finishing gives up on the writer after the time allowed.
TEST(Recording, AStalledDiskIsAbandonedNotWaitedFor) {
  Rig rig;
  const QString path = rig.file("stalled.fifo");
  ASSERT_EQ(mkfifo(path.toLocal8Bit().constData(), 0600), 0);
  std::atomic<bool> release{false};
  // Opens the FIFO when released (or at the latest after 20 s, so that a writer that blocks its
  // caller can't hang the test) and reads it to the end.
  std::thread reader([&] {
    for (int i = 0; i < 2000 && !release; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDONLY);
    char buffer[65536];
    while (fd >= 0 && ::read(fd, buffer, sizeof buffer) > 0) {
    }
    if (fd >= 0) ::close(fd);
  });
  const auto began = std::chrono::steady_clock::now();
  ASSERT_TRUE(rig.start(path, platform::ExistingFile::Replace));
  for (int i = 0; i < 5; ++i) {
    LiveFrame frame = taptest::jpegFrame(64, 48, i);
    rig.tap.drawJpegFrame(frame.data(), frame.length);
    rig.now += kFrameMs;
  }
  rig.tap.stopRecording();
  const auto returned = std::chrono::steady_clock::now() - began;
  EXPECT_FALSE(rig.tap.finishRecordings(std::chrono::milliseconds(300)));
  const auto finished = std::chrono::steady_clock::now() - began;
  release = true;
  reader.join();
  EXPECT_LT(returned, std::chrono::seconds(2));
  EXPECT_LT(finished, std::chrono::seconds(5));
  const recording::RecordingStats stats = rig.nextEvent();
  EXPECT_EQ(stats.end, RecordingEnd::Abandoned);
  EXPECT_NE(stats.error.find("abandoned"), std::string::npos) << stats.error;
  EXPECT_EQ(rig.tap.recordingStats().end, RecordingEnd::Abandoned);
  EXPECT_TRUE(rig.nextEvent(200).path.empty());  // the abandoned writer reports nothing more
}

// A writer that can't keep up never holds up the stream: the pictures that don't fit the queue
// are dropped and counted.
TEST(Recording, SlowDiskDropsFramesInsteadOfBlocking) {
  Rig rig;
  const QString path = rig.file("slow.fifo");
  ASSERT_EQ(mkfifo(path.toLocal8Bit().constData(), 0600), 0);
  const int reader = ::open(path.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  ASSERT_TRUE(rig.start(path, platform::ExistingFile::Replace));  // nothing reads it yet
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
  rig.tap.finishRecordings();
  drain.join();
  ::close(reader);
  const recording::RecordingStats stats = rig.tap.recordingStats();
  EXPECT_EQ(stats.videoFrames + stats.droppedFrames, static_cast<uint64_t>(offered));
}

}  // namespace
