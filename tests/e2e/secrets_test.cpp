// A kiosk run's password stays secret: it is read once from its file and shows up in no file the
// run writes, no output line, no argument of the running process and no screenshot.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "e2e/viewer_fixture.h"
#include "support/run_program.h"

namespace e2e {
namespace {

const QString kViewer = QStringLiteral(PV_BINARY_DIR "/src/pelloxview");
const QByteArray kSecret = "Qx7-secret-Ld2";

class SecretsTest : public ViewerTest {
 protected:
  SecretsTest() { emulatorArgs = {"--account", "guard:" + kSecret.toStdString()}; }
};

// The viewer's environment: no display, no password, everything in the test's folder.
std::vector<std::string> viewerEnvironment(const QString& dir) {
  const std::string folder = dir.toStdString();
  return {"QT_QPA_PLATFORM=offscreen", "DISPLAY=",
          "WAYLAND_DISPLAY=",          "PELLOXVIEW_PASSWORD=",
          "XDG_RUNTIME_DIR=" + folder, "XDG_PICTURES_DIR=" + folder};
}

std::vector<std::string> strings(const QStringList& list) {
  std::vector<std::string> out;
  for (const QString& item : list) out.push_back(item.toStdString());
  return out;
}

TEST_F(SecretsTest, PasswordReadOnceAndFoundNowhere) {
  start();
  QTemporaryDir dir;
  // A FIFO as the password file: it gives the password to exactly one open; a second read would
  // wait for a writer that never comes, and would still hold the FIFO open when checked.
  const QString fifo = dir.path() + QStringLiteral("/password");
  ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
  std::thread writer([path = fifo.toStdString()] {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return;
    const QByteArray line = kSecret + "\n";
    (void)!::write(fd, line.constData(), static_cast<size_t>(line.size()));
    ::close(fd);
  });

  const QStringList args = QStringList{"--connect",
                                       QStringLiteral("127.0.0.1:%1").arg(port()),
                                       "--user",
                                       "guard",
                                       "--password-file",
                                       fifo,
                                       "--channel",
                                       "1",
                                       "--quit-after",
                                       "4",
                                       "-v",
                                       "--data-dir",
                                       dir.path(),
                                       "--capture-dir",
                                       dir.path(),
                                       "--screenshot",
                                       dir.path() + "/shot.png",
                                       "--record",
                                       dir.path() + "/clip.mkv",
                                       "--audio",
                                       "--audio-out",
                                       dir.path() + "/audio.wav"};
  std::atomic<pid_t> pid{0};
  testing_support::ProgramResult result;
  std::thread runner([&] {
    result = testing_support::runProgram(kViewer, strings(args), viewerEnvironment(dir.path()),
                                         30000, [&](pid_t started) { pid = started; });
  });
  writer.join();
  // While the session runs: its arguments and environment as anyone on the machine sees them.
  ASSERT_TRUE(waitFor([&] { return pid != 0 && recorder.requests("control").size() > 3; }, 20000));
  QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid.load()));
  ASSERT_TRUE(cmdline.open(QIODevice::ReadOnly));
  EXPECT_FALSE(cmdline.readAll().contains(kSecret));
  QFile environ(QStringLiteral("/proc/%1/environ").arg(pid.load()));
  if (environ.open(QIODevice::ReadOnly)) {
    EXPECT_FALSE(environ.readAll().contains(kSecret));
  }
  runner.join();  // the emulator serves from its own threads meanwhile
  EXPECT_EQ(result.exitCode, 0);
  const QByteArray err = QByteArray::fromStdString(result.err);
  const QByteArray out = QByteArray::fromStdString(result.out);
  EXPECT_TRUE(err.contains("status: 127.0.0.1 Connected.")) << err.toStdString();
  EXPECT_FALSE(err.contains(kSecret));
  EXPECT_FALSE(out.contains(kSecret));
  // Nobody holds the FIFO open for reading any more: it was opened once.
  const int probe = ::open(fifo.toLocal8Bit().constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  EXPECT_LT(probe, 0) << "the password file is open for a second read";
  if (probe >= 0) ::close(probe);

  // Every file the run wrote: address book, screenshot, recording, audio.
  int files = 0;
  for (QDirIterator it(dir.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
       it.hasNext();) {
    const QString path = it.next();
    if (path == fifo) continue;
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    EXPECT_FALSE(file.readAll().contains(kSecret)) << path.toStdString();
    ++files;
  }
  EXPECT_GE(files, 3);  // at least the book, the screenshot and the audio
  EXPECT_TRUE(QFile::exists(dir.path() + "/shot.png"));
}

TEST(SecretsProgram, PasswordFileReadableByOthersWarnsWithoutTheSecret) {
  QTemporaryDir dir;
  const QString path = dir.path() + QStringLiteral("/password");
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(kSecret + "\n");
  file.close();
  ASSERT_EQ(::chmod(path.toLocal8Bit().constData(), 0644), 0);
  // Nothing listens on port 1: the run ends quickly after the warning.
  const auto result = testing_support::runProgram(
      kViewer,
      {"--connect", "127.0.0.1:1", "--user", "guard", "--password-file", path.toStdString(),
       "--quit-after", "1", "-v", "--data-dir", dir.path().toStdString()},
      viewerEnvironment(dir.path()), 30000);
  const QByteArray err = QByteArray::fromStdString(result.err);
  EXPECT_TRUE(err.contains("warning: password file")) << err.toStdString();
  EXPECT_FALSE(err.contains(kSecret));
  EXPECT_FALSE(QByteArray::fromStdString(result.out).contains(kSecret));
}

}  // namespace
}  // namespace e2e
