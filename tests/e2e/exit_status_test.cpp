// How a scripted run ends: a connect that never reaches "Connected." and an output that is not
// written in full each end non-zero with one line on standard error; a termination signal
// closes the window the orderly way.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "e2e/viewer_fixture.h"
#include "protocol/command_codes.h"
#include "support/run_program.h"

namespace e2e {
namespace {

const QString kViewer = QStringLiteral(PV_BINARY_DIR "/src/pelloxview");

struct ViewerRun {
  int status = -1;
  QString out;
  QString err;
};

// The viewer without a display, its files in dir; started learns its pid.
ViewerRun runViewer(const QTemporaryDir& dir, const QStringList& args,
                    const std::vector<std::string>& extraEnv = {}, int timeoutMs = 60000,
                    const std::function<void(pid_t)>& started = {}) {
  std::vector<std::string> argv;
  for (const QString& arg : args) argv.push_back(arg.toStdString());
  std::vector<std::string> env = extraEnv;
  for (const char* entry : {"QT_QPA_PLATFORM=offscreen", "DISPLAY=", "WAYLAND_DISPLAY=",
                            "PELLOXVIEW_AUDIO=none", "PELLOXVIEW_DATA_DIR="}) {
    env.emplace_back(entry);
  }
  env.push_back("XDG_DATA_HOME=" + dir.path().toStdString());
  env.push_back("TMPDIR=" + dir.path().toStdString());
  const auto result = testing_support::runProgram(kViewer, argv, env, timeoutMs, started);
  return {result.exitCode, QString::fromStdString(result.out), QString::fromStdString(result.err)};
}

QString writePassword(const QTemporaryDir& dir, const QByteArray& password) {
  const QString path = dir.path() + QStringLiteral("/password");
  QFile file(path);
  file.open(QIODevice::WriteOnly);
  file.write(password + "\n");
  file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
  return path;
}

// The lines of standard error that the viewer wrote itself (sanitizer chatter aside).
QStringList ownLines(const QString& err) {
  QStringList lines;
  for (const QString& line : err.split('\n', Qt::SkipEmptyParts)) {
    if (line.startsWith(QStringLiteral("pelloxview: "))) lines.append(line);
  }
  return lines;
}

class ExitStatusTest : public ViewerTest {
 protected:
  QTemporaryDir dir;
  QStringList connectArgs(const QByteArray& password = "demo") {
    return {"--connect",       QStringLiteral("127.0.0.1:%1").arg(port()),
            "--user",          "demo",
            "--password-file", writePassword(dir, password),
            "--data-dir",      dir.path()};
  }
};

TEST_F(ExitStatusTest, UnreachableDvrEndsAtOnceWithStatus3) {
  const uint16_t port = unusedLoopbackPort();
  // The quit time only bounds a run that would not end by itself.
  const ViewerRun run =
      runViewer(dir, {"--connect", QStringLiteral("127.0.0.1:%1").arg(port), "--user", "demo",
                      "--password-file", writePassword(dir, "demo"), "--quit-after", "30"});
  EXPECT_EQ(run.status, 3) << run.err.toStdString();
  const QStringList lines = ownLines(run.err);
  ASSERT_EQ(lines.size(), 1) << run.err.toStdString();
  EXPECT_TRUE(lines[0].startsWith("pelloxview: not connected: 127.0.0.1 Connecting failure."))
      << lines[0].toStdString();
}

TEST(ExitStatusProgram, QuitTimeBeforeConnectedIsStatus3) {
  // A listener that never answers: the connect stays at "Connecting...".
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  socklen_t length = sizeof address;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  QTemporaryDir dir;
  const ViewerRun run = runViewer(
      dir, {"--connect", QStringLiteral("127.0.0.1:%1").arg(ntohs(address.sin_port)), "--user",
            "demo", "--password-file", writePassword(dir, "demo"), "--quit-after", "1"});
  EXPECT_EQ(run.status, 3) << run.err.toStdString();
  const QStringList lines = ownLines(run.err);
  ASSERT_EQ(lines.size(), 1) << run.err.toStdString();
  EXPECT_TRUE(lines[0].contains("not connected: no \"Connected.\" within 1 s"))
      << lines[0].toStdString();

  // A signal meanwhile is the user closing the window: no verdict on the connect.
  std::atomic<pid_t> pid{0};
  std::thread stopper([&] {
    for (int i = 0; i < 100 && pid == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    if (pid != 0) ::kill(pid, SIGTERM);
  });
  const ViewerRun stopped =
      runViewer(dir,
                {"--connect", QStringLiteral("127.0.0.1:%1").arg(ntohs(address.sin_port)), "--user",
                 "demo", "--password-file", writePassword(dir, "demo")},
                {}, 30000, [&](pid_t started) { pid = started; });
  stopper.join();
  ::close(listener);
  EXPECT_EQ(stopped.status, 0) << stopped.err.toStdString();
  EXPECT_TRUE(ownLines(stopped.err).isEmpty()) << stopped.err.toStdString();
}

TEST_F(ExitStatusTest, RefusedLoginNamesTheRefusal) {
  start();
  const ViewerRun run = runViewer(dir, connectArgs("wrong") + QStringList{"--quit-after", "30"});
  EXPECT_EQ(run.status, 3) << run.err.toStdString();
  const QStringList lines = ownLines(run.err);
  ASSERT_EQ(lines.size(), 1) << run.err.toStdString();
  EXPECT_TRUE(lines[0].startsWith("pelloxview: not connected: ")) << lines[0].toStdString();
  EXPECT_TRUE(lines[0].contains("password")) << lines[0].toStdString();
  EXPECT_FALSE(run.err.contains("wrong"));
}

TEST_F(ExitStatusTest, OutputsNotWrittenInFullAreStatus4AndNamed) {
  start();
  // A folder that isn't there, and a disk that is always full.
  const QString clip = dir.path() + QStringLiteral("/missing/clip.mkv");
  const ViewerRun run =
      runViewer(dir, connectArgs() + QStringList{"--channel", "1", "--audio", "--quit-after", "3",
                                                 "--record", clip, "--screenshot", "/dev/full",
                                                 "--audio-out", "/dev/full"});
  EXPECT_EQ(run.status, 4) << run.err.toStdString();
  const QStringList lines = ownLines(run.err);
  ASSERT_EQ(lines.size(), 1) << run.err.toStdString();
  EXPECT_TRUE(lines[0].startsWith("pelloxview: not written in full: ")) << lines[0].toStdString();
  EXPECT_TRUE(lines[0].contains("--record " + clip)) << lines[0].toStdString();
  EXPECT_TRUE(lines[0].contains("--screenshot /dev/full")) << lines[0].toStdString();
  EXPECT_TRUE(lines[0].contains("--audio-out /dev/full")) << lines[0].toStdString();
  EXPECT_EQ(recorder.requests("control").back(), "REQ_DISCONNECT");  // still the orderly end

  // A recording onto a full disk.
  const ViewerRun full = runViewer(
      dir,
      connectArgs() + QStringList{"--channel", "1", "--quit-after", "3", "--record", "/dev/full"});
  EXPECT_EQ(full.status, 4) << full.err.toStdString();
  EXPECT_TRUE(full.err.contains("pelloxview: not written in full: --record /dev/full: "))
      << full.err.toStdString();
}

TEST_F(ExitStatusTest, WholeOutputsAndALinkLostAfterConnectedAreStatus0) {
  start();
  const QString clip = dir.path() + QStringLiteral("/clip.mkv");
  ViewerRun run;
  std::thread runner([&] {
    run = runViewer(dir, connectArgs() + QStringList{"--channel", "1", "--quit-after", "5",
                                                     "--record", clip, "-v"});
  });
  // Once the recording runs, the DVR goes away.
  const bool recording =
      waitFor([&] { return recorder.count(REQ_LIVESTART) > 0 && QFile(clip).size() > 0; }, 20000);
  waitFor([] { return false; }, 1000);
  command("drop all");
  runner.join();
  ASSERT_TRUE(recording);
  EXPECT_EQ(run.status, 0) << run.err.toStdString();
  EXPECT_TRUE(run.err.contains("status: 127.0.0.1 Disconnected.")) << run.err.toStdString();
  EXPECT_TRUE(ownLines(run.err).isEmpty()) << run.err.toStdString();
}

TEST_F(ExitStatusTest, TerminationSignalClosesOrderlyAndASecondEndsAtOnce) {
  start();
  const QString clip = dir.path() + QStringLiteral("/clip.mkv");
  std::atomic<pid_t> pid{0};
  ViewerRun run;
  std::thread runner([&] {
    run = runViewer(dir, connectArgs() + QStringList{"--channel", "1", "--record", clip, "-v"}, {},
                    60000, [&](pid_t started) { pid = started; });
  });
  // No quit time: only the signal ends this run.
  const bool recording = waitFor(
      [&] { return pid != 0 && recorder.count(REQ_LIVESTART) > 0 && QFile(clip).size() > 0; },
      20000);
  waitFor([] { return false; }, 1500);
  if (pid != 0) ::kill(pid, SIGTERM);
  runner.join();
  ASSERT_TRUE(recording);
  EXPECT_EQ(run.status, 0) << run.err.toStdString();
  EXPECT_TRUE(run.err.contains("status: 127.0.0.1 Disconnected.")) << run.err.toStdString();
  EXPECT_EQ(recorder.requests("control").back(), "REQ_DISCONNECT");
  // The recording was finished: a whole Matroska file that plays to its end.
  const auto probe = testing_support::runProgram(
      "ffprobe",
      {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", clip.toStdString()});
  EXPECT_GT(QString::fromStdString(probe.out).toDouble(), 1.0) << probe.err;

  // Two signals in a row: the second doesn't wait for the orderly end.
  recorder.clear();
  pid = 0;
  std::thread second([&] {
    run = runViewer(dir, connectArgs() + QStringList{"--channel", "1"}, {}, 60000,
                    [&](pid_t started) { pid = started; });
  });
  const bool live = waitFor([&] { return pid != 0 && recorder.count(REQ_LIVESTART) > 0; }, 20000);
  if (pid != 0) {
    ::kill(pid, SIGHUP);
    ::kill(pid, SIGINT);
  }
  second.join();
  ASSERT_TRUE(live);
  EXPECT_EQ(run.status, -1);  // ended by the signal, not by an exit
}

}  // namespace
}  // namespace e2e
