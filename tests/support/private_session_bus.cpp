#include "support/private_session_bus.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QStandardPaths>

#include <chrono>
#include <string>

namespace testing_support {
namespace {
constexpr int kStartTimeoutMs = 5000;

QString busConfig(const QString& socketDir) {
  return QStringLiteral(
             "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
             " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
             "<busconfig>\n"
             "  <type>session</type>\n"
             "  <listen>unix:dir=%1</listen>\n"
             "  <auth>EXTERNAL</auth>\n"
             "  <policy context=\"default\">\n"
             "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
             "    <allow eavesdrop=\"true\"/>\n"
             "    <allow own=\"*\"/>\n"
             "  </policy>\n"
             "</busconfig>\n")
      .arg(socketDir);
}

// The first line the daemon prints: its address.
std::string readLine(int fd) {
  std::string line;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char c = 0;
    if (::read(fd, &c, 1) != 1) break;
    if (c == '\n') return line;
    line += c;
  }
  return {};
}
}  // namespace

// Started with fork and exec rather than QProcess, which ThreadSanitizer can't follow.
CPrivateSessionBus::CPrivateSessionBus() {
  const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
  if (daemon.isEmpty()) {
    skipReason_ = QStringLiteral("dbus-daemon is not installed (Debian package dbus-daemon)");
    return;
  }
  const QString configPath = dir_.filePath(QStringLiteral("bus.conf"));
  QFile config(configPath);
  if (!dir_.isValid() || !config.open(QIODevice::WriteOnly) ||
      config.write(busConfig(dir_.path()).toUtf8()) < 0) {
    skipReason_ = QStringLiteral("cannot write a bus configuration in a temporary folder");
    return;
  }
  config.close();
  const std::string program = daemon.toStdString();
  const std::string configArg = "--config-file=" + configPath.toStdString();
  std::string a0 = program, a1 = configArg, a2 = "--print-address", a3 = "--nofork";
  char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data(), nullptr};
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    skipReason_ = QStringLiteral("pipe failed");
    return;
  }
  pid_ = ::fork();
  if (pid_ == 0) {
    // The daemon goes with the test, and holds none of the test's output open.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, STDIN_FILENO);
    ::dup2(null, STDERR_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::execv(argv[0], argv);
    ::_exit(127);
  }
  ::close(out[1]);
  if (pid_ > 0) address_ = QString::fromStdString(readLine(out[0]));
  ::close(out[0]);
  if (address_.isEmpty()) skipReason_ = QStringLiteral("dbus-daemon did not start");
}

CPrivateSessionBus::~CPrivateSessionBus() {
  for (const QString& name : connections_) QDBusConnection::disconnectFromBus(name);
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  int status = 0;
  ::waitpid(pid_, &status, 0);
}

QDBusConnection CPrivateSessionBus::connect(const QString& name) {
  connections_.append(name);
  return QDBusConnection::connectToBus(address_, name);
}

void CFakeScreenSaver::answerHeld() {
  for (HeldReply& held : held_) held.connection.send(held.call.createReply(held.answer));
  held_.clear();
}

int CFakeScreenSaver::count(const QString& method) const {
  int n = 0;
  for (const Call& call : calls) n += call.method == method ? 1 : 0;
  return n;
}

std::vector<uint> CFakeScreenSaver::heldCookies() const {
  std::vector<uint> cookies;
  for (const Call& call : calls) {
    if (call.method == QStringLiteral("Inhibit")) {
      cookies.push_back(call.cookie);
    } else {
      std::erase(cookies, call.cookie);
    }
  }
  return cookies;
}

uint CFakeScreenSaver::Inhibit(const QString& appName, const QString& reason) {
  const uint cookie = nextCookie_++;
  calls.push_back({QStringLiteral("Inhibit"), appName, reason, cookie});
  if (holdReplies) {
    setDelayedReply(true);
    held_.push_back({connection(), message(), cookie});
  }
  return cookie;
}

void CFakeScreenSaver::UnInhibit(uint cookie) {
  calls.push_back({QStringLiteral("UnInhibit"), {}, {}, cookie});
}

void CFakeNotifications::answerHeld() {
  for (HeldReply& held : held_) held.connection.send(held.call.createReply(held.answer));
  held_.clear();
}

uint CFakeNotifications::Notify(const QString& appName, uint replacesId, const QString& icon,
                                const QString& summary, const QString& body, const QStringList&,
                                const QVariantMap& hints, int expireMs) {
  const uint id = replacesId != 0 ? replacesId : nextId_++;
  calls.push_back({appName, replacesId, icon, summary, body, hints, expireMs, id});
  if (holdReplies) {
    setDelayedReply(true);
    held_.push_back({connection(), message(), id});
  }
  return id;
}

CFakeDesktop::CFakeDesktop(CPrivateSessionBus& bus) {
  if (bus.address().isEmpty()) return;
  QDBusConnection services = bus.connect(QStringLiteral("fake-desktop"));
  registered_ = services.isConnected() &&
                services.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"),
                                        &screenSaver, QDBusConnection::ExportAllSlots) &&
                services.registerService(QStringLiteral("org.freedesktop.ScreenSaver")) &&
                services.registerObject(QStringLiteral("/org/freedesktop/Notifications"),
                                        &notifications, QDBusConnection::ExportAllSlots) &&
                services.registerService(QStringLiteral("org.freedesktop.Notifications"));
}

}  // namespace testing_support
