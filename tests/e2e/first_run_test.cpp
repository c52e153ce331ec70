// What a new user meets: no display, the demo beside a real address book, and a process whose
// memory (with the password in it) never goes into a core file.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <atomic>
#include <thread>

#include "support/run_program.h"

namespace {

const QString kViewer = QStringLiteral(PV_BINARY_DIR "/src/pelloxview");

testing_support::ProgramResult runViewer(const QTemporaryDir& dir,
                                         const std::vector<std::string>& args,
                                         std::vector<std::string> env, int timeoutMs = 60000,
                                         const std::function<void(pid_t)>& started = {}) {
  for (const char* entry :
       {"DISPLAY=", "WAYLAND_DISPLAY=", "PELLOXVIEW_AUDIO=none", "PELLOXVIEW_DATA_DIR="}) {
    env.emplace_back(entry);
  }
  env.push_back("XDG_DATA_HOME=" + dir.path().toStdString());
  env.push_back("TMPDIR=" + dir.path().toStdString());
  return testing_support::runProgram(kViewer, args, env, timeoutMs, started);
}

TEST(FirstRun, NoDisplayAndNothingToRunSaysHowToRunHeadless) {
  QTemporaryDir dir;
  // No platform chosen either: the Connect dialog would wait where nobody can see it.
  const auto run = runViewer(dir, {}, {"QT_QPA_PLATFORM="}, 15000);
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_NE(run.err.find("pelloxview: no display found"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("--demo"), std::string::npos) << run.err;
  EXPECT_TRUE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

TEST(FirstRun, DemoKeepsItsOwnBookAndReportsAScreenshotItCouldNotWrite) {
  QTemporaryDir dir;
  const auto run = runViewer(dir, {"--demo", "--quit-after", "4", "--screenshot", "/dev/full"},
                             {"QT_QPA_PLATFORM=offscreen"});
  // A full disk: no "screenshot:" line for a file that holds nothing, and status 4.
  EXPECT_EQ(run.exitCode, 4) << run.err << run.out;
  EXPECT_NE(run.out.find("Connected."), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("screenshot: /dev/full"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("pelloxview: not written in full: --screenshot /dev/full"),
            std::string::npos)
      << run.err;
  // The demo's last-used entry went to its own folder; the user's book was never touched.
  const QString userData = dir.path() + QStringLiteral("/pelloxview");
  EXPECT_FALSE(QFile::exists(userData + "/PelloxView.pvx"));
  EXPECT_TRUE(QFile::exists(userData + "/demo/PelloxView.pvx"));
}

// The hard core-file limit of a running viewer, as /proc shows it; empty when unreadable.
std::string coreLimit(pid_t pid) {
  QFile limits(QStringLiteral("/proc/%1/limits").arg(pid));
  if (!limits.open(QIODevice::ReadOnly)) return {};
  for (const QByteArray& line : limits.readAll().split('\n')) {
    if (!line.startsWith("Max core file size")) continue;
    const QList<QByteArray> fields = line.mid(18).simplified().split(' ');
    return fields.size() >= 2 ? fields[1].toStdString() : std::string();
  }
  return {};
}

TEST(FirstRun, CoreDumpsAreOffUnlessAskedFor) {
  for (const bool allowed : {false, true}) {
    QTemporaryDir dir;
    std::vector<std::string> args = {"--quit-after", "3"};
    if (allowed) args.push_back("--allow-core-dumps");
    std::atomic<pid_t> pid{0};
    std::string limit;
    std::thread watcher([&] {
      // Read once the program has started up (its limits are set before the window exists).
      for (int i = 0; i < 40 && limit.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (pid != 0 && i >= 10) limit = coreLimit(pid);
      }
    });
    const auto run = runViewer(dir, args, {"QT_QPA_PLATFORM=offscreen"}, 30000,
                               [&](pid_t started) { pid = started; });
    watcher.join();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    // Allowed, the limit stays the one this test runs with.
    rlimit own{};
    ::getrlimit(RLIMIT_CORE, &own);
    const std::string inherited =
        own.rlim_max == RLIM_INFINITY ? "unlimited" : std::to_string(own.rlim_max);
    EXPECT_EQ(limit, allowed ? inherited : "0");
  }
}

}  // namespace
