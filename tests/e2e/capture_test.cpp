// Snapshots and recordings from the window: S and R, their files and what the status line says.
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QKeyEvent>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "app/control_ids.h"
#include "e2e/viewer_fixture.h"
#include "recording/live_tap.h"
#include "support/run_program.h"

namespace e2e {
namespace {

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
  key(Qt::Key_S);
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

}  // namespace
}  // namespace e2e
