// The viewer program's own output files: --record and --screenshot never go through a link or
// over an existing file unless --overwrite is given, a recording on storage that stopped
// answering never holds up the quit, and the headless demo keeps its files in a private folder.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "e2e/viewer_fixture.h"
#include "support/run_program.h"

namespace e2e {
namespace {

const QString kViewer = QStringLiteral(PV_BINARY_DIR "/src/pelloxview");

QByteArray contents(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

class OutputFilesTest : public ViewerTest {
 protected:
  void SetUp() override {
    ViewerTest::SetUp();
    writeFile(dir.filePath("password"), "demo\n");
    QFile::setPermissions(dir.filePath("password"), QFile::ReadOwner | QFile::WriteOwner);
  }
  // A kiosk run against the emulator on channel 1 for `seconds`, logging its status texts.
  testing_support::ProgramResult runKiosk(const std::vector<std::string>& extra, double seconds,
                                          int timeoutMs = 60000) {
    std::vector<std::string> args = {"--connect",
                                     "127.0.0.1:" + std::to_string(port()),
                                     "--user",
                                     "demo",
                                     "--password-file",
                                     dir.filePath("password").toStdString(),
                                     "--channel",
                                     "1",
                                     "--quit-after",
                                     std::to_string(seconds),
                                     "-v",
                                     "--data-dir",
                                     dir.path().toStdString()};
    args.insert(args.end(), extra.begin(), extra.end());
    return testing_support::runProgram(
        kViewer, args, {"QT_QPA_PLATFORM=offscreen", "DISPLAY=", "WAYLAND_DISPLAY="}, timeoutMs);
  }
  QTemporaryDir dir;
};

TEST_F(OutputFilesTest, ExistingFilesAndLinksAreKeptWithoutOverwrite) {
  start();
  const QString shot = dir.filePath("shot.png");
  const QString victim = dir.filePath("victim");
  const QString link = dir.filePath("clip.mkv");
  writeFile(shot, "old picture");
  writeFile(victim, "old data");
  ASSERT_TRUE(QFile::link(victim, link));
  const auto run =
      runKiosk({"--record", link.toStdString(), "--screenshot", shot.toStdString()}, 3);
  EXPECT_GE(run.exitCode, 0) << run.err;
  const QString err = QString::fromStdString(run.err);
  EXPECT_TRUE(err.contains("status: Can't record " + link)) << run.err;
  EXPECT_EQ(contents(victim), "old data");
  EXPECT_EQ(contents(shot), "old picture");
  EXPECT_TRUE(QFileInfo(link).isSymLink());
}

// The recording goes to a FIFO whose reader never reads: the writer soon blocks in a write, as
// on a hung network share. The run still ends soon after its quit time, and says what happened;
// --overwrite lets the screenshot replace an existing file.
TEST_F(OutputFilesTest, AStalledRecordingNeverHoldsUpTheQuit) {
  start();
  const QString fifo = dir.filePath("stalled.mkv");
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const QString shot = dir.filePath("shot.png");
  writeFile(shot, "old picture");
  QElapsedTimer clock;
  clock.start();
  const auto run = runKiosk(
      {"--record", fifo.toStdString(), "--overwrite", "--screenshot", shot.toStdString()}, 3);
  const qint64 took = clock.elapsed();
  ::close(reader);
  ASSERT_GE(run.exitCode, 0) << "did not end: " << run.err;
  // Quit time, the orderly disconnect's wait and the few seconds a writer gets to finish, with
  // room for a slow machine.
  EXPECT_LT(took, 20000) << run.err;
  const QString err = QString::fromStdString(run.err);
  EXPECT_TRUE(err.contains("status: Recording " + fifo)) << run.err;
  EXPECT_TRUE(err.contains("status: Recording stopped: ")) << run.err;
  EXPECT_TRUE(err.contains("abandoned")) << run.err;
  EXPECT_EQ(QImage(shot).width(), 240);
}

// A screenshot to a FIFO nobody opens: creating the file waits for good, as on a hung share.
// The run still ends soon after its quit time, and the screenshot counts as not written.
TEST_F(OutputFilesTest, AStalledScreenshotNeverHoldsUpTheQuit) {
  start();
  const QString fifo = dir.filePath("stalled.png");
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  QElapsedTimer clock;
  clock.start();
  const auto run = runKiosk({"--screenshot", fifo.toStdString(), "--overwrite"}, 2, 30000);
  const qint64 took = clock.elapsed();
  ASSERT_GE(run.exitCode, 0) << "did not end: " << run.err;
  EXPECT_EQ(run.exitCode, 4) << run.err;
  // Quit time, the orderly disconnect's wait and the few seconds the file gets, with room for a
  // slow machine.
  EXPECT_LT(took, 15000) << run.err;
  EXPECT_TRUE(QString::fromStdString(run.err).contains("--screenshot")) << run.err;
}

// The headless demo's screenshot and audio go to a new private folder: a link planted under
// the old fixed name in the temporary folder is never followed.
TEST(ViewerDemoFiles, GoToAPrivateFolder) {
  QTemporaryDir tmp, data;
  const QString victim = data.filePath("victim");
  writeFile(victim, "keep");
  for (const char* name : {"pelloxview-demo.png", "pelloxview-demo.wav"})
    ASSERT_TRUE(QFile::link(victim, tmp.filePath(name)));
  const auto run = testing_support::runProgram(
      kViewer, {"--demo", "--quit-after", "2", "--data-dir", data.path().toStdString()},
      {"QT_QPA_PLATFORM=offscreen",
       "DISPLAY=", "WAYLAND_DISPLAY=", "TMPDIR=" + tmp.path().toStdString()},
      60000);
  ASSERT_EQ(run.exitCode, 0) << run.err << run.out;
  EXPECT_EQ(contents(victim), "keep");
  const QString out = QString::fromStdString(run.out);
  const int at = out.indexOf("screenshot: ");
  ASSERT_GE(at, 0) << run.out;
  const QString shot = out.mid(at + 12).section('\n', 0, 0);
  const QFileInfo info(shot);
  EXPECT_TRUE(info.absolutePath().startsWith(tmp.path() + "/pelloxview-demo-")) << run.out;
  EXPECT_FALSE(QImage(shot).isNull());
  struct stat status {};
  ASSERT_EQ(::stat(QFile::encodeName(info.absolutePath()).constData(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0700u);
  QDir(info.absolutePath()).removeRecursively();
}

}  // namespace
}  // namespace e2e
