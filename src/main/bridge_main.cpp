// pelloxview-bridge: one DVR login, its channels as RTSP and MJPEG over HTTP, snapshots, a web
// page and status for any number of clients. No display: Qt Core only.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/password_source.h"
#include "bridge/bridge_options.h"
#include "bridge/bridge_service.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitBadOptions = 2;
constexpr size_t kMaxSettingsFile = 64 * 1024;
constexpr int kStopPollMs = 100;

bool readSmallFile(const std::string& path, std::string* text, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot read '" + path + "': " + std::strerror(errno);
    return false;
  }
  text->clear();
  char buffer[4096];
  while (true) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text->append(buffer, static_cast<size_t>(got));
    if (text->size() > kMaxSettingsFile) {
      ::close(fd);
      *error = "'" + path + "' is larger than 64 KiB";
      return false;
    }
  }
  ::close(fd);
  return true;
}

void printLine(const std::string& line) {
  std::fprintf(stderr, "pelloxview-bridge: %s\n", line.c_str());
  std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
  // Termination signals are taken by one thread that asks the event loop to quit; every other
  // thread (the session's, the HTTP server's) inherits the blocked mask.
  sigset_t quitSignals;
  sigemptyset(&quitSignals);
  sigaddset(&quitSignals, SIGINT);
  sigaddset(&quitSignals, SIGTERM);
  sigaddset(&quitSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &quitSignals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  std::vector<std::string> arguments(argv + 1, argv + argc);
  BridgeOptions options;
  OptionsResult parsed = parseBridgeArguments(arguments, &options, readSmallFile);
  if (parsed.ok && options.help) {
    std::fputs(kBridgeUsage, stdout);
    return kExitOk;
  }
  if (parsed.ok) parsed = checkBridgeOptions(options);
  if (!parsed.ok) {
    printLine(parsed.error);
    std::fputs(kBridgeUsage, stderr);
    return kExitBadOptions;
  }
  std::optional<CAuthUsers> users;
  if (!options.authFile.empty()) {
    std::string text;
    std::string error;
    if (!readSmallFile(options.authFile, &text, &error)) {
      printLine(error);
      return kExitBadOptions;
    }
    CAuthUsers loaded;
    if (!loaded.parse(text, &error)) {
      printLine(options.authFile + ": " + error);
      return kExitBadOptions;
    }
    struct stat info {};
    if (::stat(options.authFile.c_str(), &info) == 0 && (info.st_mode & (S_IRGRP | S_IROTH)) != 0)
      printLine("auth file '" + options.authFile + "' can be read by other users (chmod 600 it)");
    users = std::move(loaded);
  }
  if (const std::string why = loginTextProblem(options.userId); !why.empty()) {
    printLine("the user ID can't be used: " + why);
    return kExitBadOptions;
  }
  PasswordResult password = readPassword(options.passwordFile);
  if (!password.warning.empty()) printLine(password.warning);
  if (!password.ok) {
    printLine(password.error);
    return kExitBadOptions;
  }
  ::unsetenv("PELLOXVIEW_PASSWORD");  // not inherited by anything started later

  QCoreApplication app(argc, argv);
  CBridgeService::LogLine log;
  if (options.verbose) log = printLine;
  CBridgeService service(options, std::move(password.password), std::move(users), log, printLine);
  service.setFinishedHandler([] { QCoreApplication::exit(0); });
  std::string error;
  if (!service.start(&error)) {
    printLine(error);
    return kExitFailed;
  }
  if (options.rtspEnabled) {
    printLine("serving rtsp://" + options.rtsp.host + ":" + std::to_string(service.rtspPort()) +
              "/channel/N");
  }
  printLine("serving http://" + options.http.host + ":" + std::to_string(service.httpPort()) + "/");

  // A stop logs out of the DVR first, so its login slot is free at once. The signal thread only
  // raises a flag; the event loop looks at it a few times a second.
  std::atomic<bool> stopRequested{false};
  std::atomic<bool> leaving{false};
  std::thread signalWaiter([&quitSignals, &stopRequested, &leaving] {
    int signal = 0;
    sigwait(&quitSignals, &signal);
    if (!leaving.load()) stopRequested.store(true);
  });
  QTimer stopPoll;
  stopPoll.callOnTimeout([&] {
    if (stopRequested.load()) service.stop();
  });
  stopPoll.start(kStopPollMs);
  app.exec();
  // Wake the waiter if the loop ended for another reason; it then exits at once.
  leaving.store(true);
  ::kill(::getpid(), SIGTERM);
  signalWaiter.join();
  return service.finished().value_or(kExitOk);
}
