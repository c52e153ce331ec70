#include "app/demo_dvr.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStandardPaths>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

namespace {
constexpr int kStartTimeoutMs = 15000;

// Waits up to timeoutMs for the child to end; true when it has been reaped.
bool reap(pid_t pid, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    const pid_t done = ::waitpid(pid, nullptr, WNOHANG);
    if (done == pid || done < 0) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    ::usleep(10000);
  }
}
}  // namespace

QString CDemoDvr::emulatorPath() {
  const QString fromEnvironment = qEnvironmentVariable("PELLOXVIEW_EMULATOR");
  if (!fromEnvironment.isEmpty()) return fromEnvironment;
  const QString dir = QCoreApplication::applicationDirPath();
  for (const QString& candidate : {dir + QStringLiteral("/dvr-emulator"),
                                   dir + QStringLiteral("/../tools/dvr-emulator/dvr-emulator")}) {
    if (QFileInfo(candidate).isExecutable()) return QFileInfo(candidate).canonicalFilePath();
  }
  return QStandardPaths::findExecutable(QStringLiteral("dvr-emulator"));
}

bool CDemoDvr::start(QString* error) {
  const QString program = emulatorPath();
  if (program.isEmpty()) {
    *error = QStringLiteral("the demo DVR program dvr-emulator was not found");
    return false;
  }
  // Everything the child needs is prepared before the fork.
  std::vector<std::string> args = {
      program.toStdString(), "--listen",  "127.0.0.1:0", "--user", kUser,
      "--password",          kPassword,   "--channels",  "4",      "--channel",
      "2:codec=mpeg4",       "--no-stdin"};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    *error = QStringLiteral("the demo DVR could not be started");
    return false;
  }
  const pid_t parent = ::getpid();
  pid_ = ::fork();
  if (pid_ == 0) {
    // The demo DVR never outlives the viewer.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(1);
    // Out of the terminal's process group: Ctrl-C reaches the viewer, which then disconnects
    // from a DVR that is still there.
    ::setpgid(0, 0);
    ::dup2(out[1], STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) ::dup2(null, STDERR_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  if (pid_ < 0) {
    ::close(out[0]);
    *error = QStringLiteral("the demo DVR could not be started");
    return false;
  }
  // Its one line on standard output says where it listens.
  std::string output;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  while (output.find('\n') == std::string::npos && output.size() < 4096) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    pollfd wait{out[0], POLLIN, 0};
    if (left <= 0 || ::poll(&wait, 1, static_cast<int>(left)) <= 0) break;
    char buffer[256];
    const ssize_t got = ::read(out[0], buffer, sizeof buffer);
    if (got <= 0) break;
    output.append(buffer, static_cast<size_t>(got));
  }
  ::close(out[0]);
  const std::string prefix = "listening on ";
  const size_t at = output.find(prefix);
  const size_t end = output.find('\n', at);
  if (at != std::string::npos && end != std::string::npos) {
    const QString address =
        QString::fromStdString(output.substr(at + prefix.size(), end - at - prefix.size()))
            .trimmed();
    const int colon = address.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    const uint port = address.mid(colon + 1).toUInt(&ok);
    if (colon > 0 && ok && port > 0 && port <= 65535) {
      host_ = address.left(colon);
      port_ = static_cast<uint16_t>(port);
      return true;
    }
  }
  *error = QStringLiteral("the demo DVR did not report its port");
  stop();
  return false;
}

void CDemoDvr::stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  if (!reap(pid_, 3000)) {
    ::kill(pid_, SIGKILL);
    reap(pid_, 1000);
  }
  pid_ = -1;
}

CDemoDvr::~CDemoDvr() {
  stop();
}
