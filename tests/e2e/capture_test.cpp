// Snapshots and recordings from the window: S and R, their files and what the status line says.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "app/control_ids.h"
#include "e2e/viewer_fixture.h"
#include "platform/output_file.h"
#include "recording/live_tap.h"
#include "support/run_program.h"

namespace e2e {
namespace {

// Storage that stops answering, as a hung network share does: a FIFO that nobody opens for
// reading until the test ends (or 30 s pass, so that a frozen window can't hang the test); then
// it is read to the end.
class StalledDisk {
 public:
  explicit StalledDisk(const QString& fifo) : fifo_(QFile::encodeName(fifo).toStdString()) {
    made_ = ::mkfifo(fifo_.c_str(), 0600) == 0;
    if (made_) reader_ = std::thread([this] { drainWhenReleased(); });
  }
  ~StalledDisk() {
    release_ = true;
    if (reader_.joinable()) reader_.join();
  }
  StalledDisk(const StalledDisk&) = delete;
  StalledDisk& operator=(const StalledDisk&) = delete;
  bool made() const { return made_; }

 private:
  void drainWhenReleased() {
    for (int i = 0; i < 3000 && !release_; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const int fd = ::open(fifo_.c_str(), O_RDONLY);
    char buffer[65536];
    while (fd >= 0 && ::read(fd, buffer, sizeof buffer) > 0) {
    }
    if (fd >= 0) ::close(fd);
  }

  std::string fifo_;
  bool made_ = false;
  std::atomic<bool> release_{false};
  std::thread reader_;
};

// The UI thread's longest stretch without an event-loop turn while this watch lives. A write
// that waited for the stalled disk would hold it for the whole 30 s; a loaded machine's
// scheduling alone stays far below the 1 s the tests allow.
class UiGapWatch {
 public:
  UiGapWatch() {
    QObject::connect(&heartbeat_, &QTimer::timeout, [this] {
      longest_ = std::max(longest_, clock_.elapsed() - last_);
      last_ = clock_.elapsed();
    });
    clock_.start();
    heartbeat_.start(10);
  }
  qint64 longest() const { return longest_; }

 private:
  QElapsedTimer clock_;
  QTimer heartbeat_;
  qint64 last_ = 0, longest_ = 0;
};

class CaptureTest : public ViewerTest {
 protected:
  CaptureTest() { services.captureDirectory = folder.path(); }
  void key(int code) {
    QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier);
    QCoreApplication::sendEvent(&window(), &press);
    QKeyEvent release(QEvent::KeyRelease, code, Qt::NoModifier);
    QCoreApplication::sendEvent(&window(), &release);
  }
  QStringList files() const { return QDir(folder.path()).entryList(QDir::Files, QDir::Name); }
  // ffprobe's answer for one field of the first video stream.
  std::string probe(const QString& path, const std::string& entry) {
    const auto result = testing_support::runProgram(
        "ffprobe", {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                    "stream=" + entry, "-of", "default=nw=1:nk=1", path.toStdString()});
    return QString::fromStdString(result.out).trimmed().toStdString();
  }
  QTemporaryDir folder;
};

TEST_F(CaptureTest, SnapshotKeepsTheDvrsPictureSizeAndSaysWhere) {
  start();
  connectAndWait();
  key(Qt::Key_S);  // nothing shown yet
  EXPECT_EQ(window().statusText(), "No picture to save.");
  EXPECT_TRUE(files().isEmpty());
  ASSERT_TRUE(showChannel(1));
  ASSERT_TRUE(waitFor([&] { return !window().liveTap()->snapshot().isNull(); }));
  key(Qt::Key_S);  // saved off the UI thread: the status line tells when
  ASSERT_TRUE(waitFor([&] { return window().statusText().startsWith("Saved "); }));
  ASSERT_EQ(files().size(), 1);
  const QString name = files().front();
  EXPECT_TRUE(
      QRegularExpression("^127\\.0\\.0\\.1-ch02-\\d{8}-\\d{6}\\.png$").match(name).hasMatch())
      << name.toStdString();
  const QImage picture(folder.filePath(name));
  EXPECT_EQ(picture.size(), QSize(704, 480));
  EXPECT_EQ(window().statusText(), "Saved " + folder.filePath(name));
}

TEST_F(CaptureTest, RecordingPlaysAndEndsWithTheChannel) {
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(0));
  key(Qt::Key_R);
  ASSERT_TRUE(window().liveTap()->recording());
  ASSERT_TRUE(window().statusText().startsWith("Recording "));
  const QString path = QString::fromStdString(window().liveTap()->recordingPath());
  // At least ten pictures in the file, however slow the machine.
  ASSERT_TRUE(
      waitFor([&] { return window().liveTap()->recordingStats().videoFrames >= 10; }, 15000));
  ASSERT_TRUE(showChannel(2));  // a switch ends the recording cleanly
  EXPECT_FALSE(window().liveTap()->recording());
  ASSERT_TRUE(waitFor([&] {
    return window().liveTap()->recordingStats().end != recording::RecordingEnd::Running;
  }));
  EXPECT_EQ(probe(path, "codec_name"), "mjpeg");
  EXPECT_GE(std::stoi("0" + probe(path, "nb_read_frames")), 10);
  EXPECT_EQ(probe(path, "width"), "704");
  // R twice: a second file, closed by the second press.
  key(Qt::Key_R);
  waitFor([] { return false; }, 600);
  key(Qt::Key_R);
  EXPECT_FALSE(window().liveTap()->recording());
  EXPECT_EQ(files().filter(".mkv").size(), 2);
}

mode_t modeOf(const QString& path) {
  struct stat status {};
  return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// A burst of snapshots within a second: one private file each, in a private folder made for them.
TEST_F(CaptureTest, EverySnapshotGetsItsOwnPrivateFile) {
  services.captureDirectory = folder.filePath("new/pictures");
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(0));
  ASSERT_TRUE(waitFor([&] { return !window().liveTap()->snapshot().isNull(); }));
  QStringList saved;
  QStringList captured;
  window().onCapture = [&](const QString& path) { captured << path; };
  for (int i = 0; i < 3; ++i) key(Qt::Key_S);  // at once: the saves run side by side
  ASSERT_TRUE(waitFor([&] { return captured.size() == 3; })) << captured.size();
  EXPECT_EQ(window().statusText(), "Saved " + captured.back());
  saved = captured;
  const QDir pictures(services.captureDirectory);
  EXPECT_EQ(pictures.entryList(QDir::Files).size(), 3);
  EXPECT_EQ(saved.removeDuplicates(), 0);
  for (const QString& path : saved) {
    EXPECT_EQ(QImage(path).size(), QSize(704, 480)) << path.toStdString();
    EXPECT_EQ(modeOf(path), 0600u) << path.toStdString();
  }
  EXPECT_EQ(modeOf(folder.filePath("new")), 0700u);
  EXPECT_EQ(modeOf(services.captureDirectory), 0700u);
  EXPECT_FALSE(window().captureFailed());
}

// R pressed again within the same second starts a second file; the first one stays whole.
TEST_F(CaptureTest, ARecordingRestartedAtOnceKeepsTheFirstFile) {
  services.captureDirectory = folder.filePath("videos/new");  // made by the writer, private
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(0));
  QStringList saved;
  for (int i = 0; i < 2; ++i) {
    key(Qt::Key_R);
    ASSERT_TRUE(waitFor([&] { return window().liveTap()->recordingStats().videoFrames >= 3; }));
    key(Qt::Key_R);
    ASSERT_TRUE(waitFor([&] { return window().statusText().startsWith("Saved "); }))
        << window().statusText().toStdString();
    saved << window().statusText().mid(6);
  }
  EXPECT_NE(saved[0], saved[1]);
  EXPECT_EQ(QDir(services.captureDirectory).entryList(QDir::Files).size(), 2);
  EXPECT_EQ(modeOf(folder.filePath("videos")), 0700u);
  EXPECT_EQ(modeOf(services.captureDirectory), 0700u);
  for (const QString& path : saved) {
    EXPECT_GE(std::stoi("0" + probe(path, "nb_read_frames")), 3) << path.toStdString();
    EXPECT_EQ(modeOf(path), 0600u) << path.toStdString();
  }
}

// A DVR notice takes the status line over while a recording runs: the red mark still shows,
// and it goes with the recording.
TEST_F(CaptureTest, TheRecordingMarkShowsWhateverTheStatusLineSays) {
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(0));
  const auto markShown = [&] {
    const QColor dot = window().grabWindow().pixelColor(26, 167);
    return dot.red() > 180 && dot.green() < 80 && dot.blue() < 80;
  };
  EXPECT_FALSE(markShown());
  key(Qt::Key_R);
  ASSERT_TRUE(window().liveTap()->recording());
  command("notice setup user");
  ASSERT_TRUE(waitForStatus("user entered into DVR Setup"));
  EXPECT_TRUE(markShown());
  key(Qt::Key_R);
  EXPECT_FALSE(markShown());
}

// MPEG-4 stopped before its first key frame: nothing was saved, and the status line says so.
TEST_F(CaptureTest, AnMpeg4RecordingWithoutAKeyFrameSaysNothingWasRecorded) {
  emulatorArgs = {"--channel", "1:codec=mpeg4"};  // a key frame every two seconds
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(0));
  // Past the stream's first key frame: the next one is two seconds away.
  ASSERT_TRUE(waitFor([&] { return !window().liveTap()->snapshot().isNull(); }));
  // The key frame may, rarely, come between the last look and the stop: then try again.
  bool nothing = false;
  int saved = 0;
  for (int attempt = 0; attempt < 3 && !nothing; ++attempt) {
    key(Qt::Key_R);
    ASSERT_TRUE(
        waitFor([&] { return window().liveTap()->recordingStats().picturesBeforeStart > 0; }));
    const bool keyFrameSeen = window().liveTap()->recordingStats().videoFrames > 0;
    key(Qt::Key_R);
    ASSERT_TRUE(waitFor([&] {
      return window().statusText().startsWith("Saved ") ||
             window().statusText().startsWith("Nothing recorded");
    }));
    nothing = window().statusText() == "Nothing recorded: no key frame yet";
    if (!nothing) {
      ++saved;
      // "Saved" only for a file that holds pictures.
      EXPECT_GT(window().liveTap()->recordingStats().videoFrames, 0u);
      EXPECT_TRUE(keyFrameSeen || attempt < 2);  // a key frame can't slip in every time
    }
  }
  EXPECT_TRUE(nothing) << window().statusText().toStdString();
  EXPECT_EQ(files().filter(".mkv").size(), saved);  // the empty file is gone
  EXPECT_TRUE(window().captureFailed());
}

// Storage that stops answering (a FIFO nobody reads stands in for a hung share): the window
// keeps answering while the recording starts, runs and stops, and finishing gives up on it.
TEST_F(CaptureTest, AStalledDiskNeverFreezesTheWindow) {
  const QString fifo = folder.filePath("stalled.mkv");
  StalledDisk disk(fifo);
  ASSERT_TRUE(disk.made());
  start();
  connectAndWait();
  // The UI thread's longest stretch without an event-loop turn, over the whole recording.
  UiGapWatch gaps;
  window().recordOnNextPicture(fifo.toStdString(), true);
  ASSERT_TRUE(showChannel(0));
  EXPECT_TRUE(window().liveTap()->recording());
  waitFor([] { return false; }, 500);  // pictures pile up in front of the stalled writer
  key(Qt::Key_R);
  EXPECT_FALSE(window().liveTap()->recording());
  waitFor([] { return false; }, 300);
  EXPECT_LT(gaps.longest(), 1000);

  QElapsedTimer clock;
  clock.start();
  EXPECT_FALSE(window().finishRecordings());
  EXPECT_LT(clock.elapsed(), 5000);
  EXPECT_TRUE(window().statusText().startsWith("Recording stopped: "))
      << window().statusText().toStdString();
  EXPECT_TRUE(window().statusText().contains("abandoned"));
  EXPECT_TRUE(window().captureFailed());
}

// A snapshot whose file lands on storage that stops answering (a FIFO nobody reads stands in
// for a hung share): the window keeps answering, a later snapshot still saves, and finishing
// gives up on the stuck one.
TEST_F(CaptureTest, AStalledSnapshotNeverFreezesTheWindow) {
  QTemporaryDir stalledFolder;
  const QString fifo = stalledFolder.filePath("stalled.png");
  StalledDisk disk(fifo);
  ASSERT_TRUE(disk.made());
  // The first snapshot's file is the FIFO: opening it for writing waits for a reader.
  auto creations = std::make_shared<std::atomic<int>>(0);
  services.createSnapshotFile = [creations, stalled = fifo.toStdString()](
                                    const std::string& path, platform::ExistingFile existing) {
    if (creations->fetch_add(1) == 0)
      return platform::createOutputFile(stalled, platform::ExistingFile::Replace);
    return platform::createOutputFile(path, existing);
  };
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(0));
  ASSERT_TRUE(waitFor([&] { return !window().liveTap()->snapshot().isNull(); }));
  // S itself: decoding the picture is all it does on the UI thread (30 s when it waits for the
  // disk).
  QElapsedTimer clock;
  clock.start();
  key(Qt::Key_S);
  EXPECT_LT(clock.elapsed(), 2000);
  // The UI thread's longest stretch without an event-loop turn while the save is stuck; the
  // status line still shows what happens meanwhile.
  {
    UiGapWatch gaps;
    command("notice setup user");
    EXPECT_TRUE(waitForStatus("user entered into DVR Setup"));
    waitFor([] { return false; }, 300);
    EXPECT_LT(gaps.longest(), 1000);
  }
  // A later snapshot to storage that answers is saved.
  key(Qt::Key_S);
  EXPECT_TRUE(waitFor([&] { return window().statusText().startsWith("Saved "); }))
      << window().statusText().toStdString();
  EXPECT_EQ(files().size(), 1);
  EXPECT_FALSE(window().captureFailed());

  clock.restart();
  EXPECT_FALSE(window().finishRecordings());
  EXPECT_LT(clock.elapsed(), 5000);
  EXPECT_TRUE(window().statusText().startsWith("Can't save "))
      << window().statusText().toStdString();
  EXPECT_TRUE(window().statusText().contains("abandoned"));
  EXPECT_TRUE(window().captureFailed());
}

}  // namespace
}  // namespace e2e
