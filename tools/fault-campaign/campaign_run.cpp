#include "campaign_run.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "outcome_check.h"
#include "process.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {
constexpr auto kEmulatorStartWait = std::chrono::seconds(20);
constexpr auto kSessionWait = std::chrono::seconds(6);
// Beyond the quit time: the orderly disconnect, the second Connect and the teardown.
constexpr double kViewerGraceSeconds = 25;

std::string hex(uint64_t v) {
  char text[24];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(v));
  return text;
}

// Waits until the emulator lists a connection of the kind (its live stream: the session runs).
bool waitForConnection(const std::string& socket, const std::string& kind,
                       Clock::time_point until) {
  while (Clock::now() < until) {
    if (controlCommand(socket, "sessions").find(" " + kind) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

void stopProcess(pid_t pid, const std::string& socket) {
  if (pid <= 0) return;
  if (!socket.empty()) controlCommand(socket, "quit");
  if (waitUntil(pid, Clock::now() + std::chrono::seconds(5))) return;
  ::kill(pid, SIGKILL);
  waitUntil(pid, Clock::now() + std::chrono::seconds(5));
}
}  // namespace

RunResult runScenario(const Scenario& scenario, const RunSettings& settings) {
  RunResult result;
  const auto started = Clock::now();
  const fs::path dir = fs::path(settings.workDir) / ("run-" + hex(scenario.seed));
  fs::remove_all(dir);
  fs::create_directories(dir / "data");
  // A password of this run alone: it must show up nowhere the viewer writes.
  const std::string password = "pw" + hex(scenario.seed * 0x9E3779B97F4A7C15ULL).substr(0, 10);
  const std::string passwordFile = (dir / "password").string();
  {
    std::ofstream out(passwordFile);
    out << password << "\n";
  }
  fs::permissions(passwordFile, fs::perms::owner_read | fs::perms::owner_write);
  const std::string socket = (dir / "dvr.sock").string();

  std::vector<std::string> emulatorArgs = {
      settings.emulator,  "--listen", "127.0.0.1:0", "--no-stdin", "--control-socket", socket,
      "--alive-interval", "1",        "--user",      "demo",       "--password",       password,
      "--size",           "352x240"};
  emulatorArgs.insert(emulatorArgs.end(), scenario.emulatorArgs.begin(),
                      scenario.emulatorArgs.end());
  for (const auto& fault : scenario.startFaults) {
    emulatorArgs.push_back("--fault");
    emulatorArgs.push_back(fault);
  }
  int emulatorOut = -1;
  const pid_t emulator =
      spawn(emulatorArgs, {}, &emulatorOut, "", (dir / "emulator.stderr").string());
  if (emulator < 0) {
    result.failures.push_back("emulator did not start");
    result.logDir = dir.string();
    return result;
  }
  const std::string ready =
      readLineStartingWith(emulatorOut, "listening on ", Clock::now() + kEmulatorStartWait);
  ::close(emulatorOut);
  const size_t colon = ready.rfind(':');
  if (ready.empty() || colon == std::string::npos) {
    result.failures.push_back("emulator never listened");
    stopProcess(emulator, socket);
    result.logDir = dir.string();
    return result;
  }
  const std::string port = ready.substr(colon + 1);

  char quitAfter[16];
  std::snprintf(quitAfter, sizeof quitAfter, "%.1f", scenario.quitAfterSeconds);
  const std::vector<std::string> viewerArgs = {settings.viewer,
                                               "--connect",
                                               "127.0.0.1:" + port,
                                               "--user",
                                               "demo",
                                               "--password-file",
                                               passwordFile,
                                               "--channel",
                                               std::to_string(scenario.channel),
                                               "--audio",
                                               "--quit-after",
                                               quitAfter,
                                               "-v",
                                               "--link-timeout",
                                               "3",
                                               "--diagnostics",
                                               "--connect-again",
                                               "--move-camera",
                                               "--data-dir",
                                               (dir / "data").string()};
  const std::vector<std::string> viewerEnv = {"QT_QPA_PLATFORM=offscreen", "PELLOXVIEW_AUDIO=none",
                                              "XDG_RUNTIME_DIR=" + dir.string()};
  const auto viewerStart = Clock::now();
  const pid_t viewer = spawn(viewerArgs, viewerEnv, nullptr, (dir / "viewer.stdout").string(),
                             (dir / "viewer.stderr").string());
  if (viewer < 0) {
    result.failures.push_back("viewer did not start");
    stopProcess(emulator, socket);
    result.logDir = dir.string();
    return result;
  }
  // The argument vector of the running viewer, as anyone on the machine can read it.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const std::string cmdline = readWholeFile("/proc/" + std::to_string(viewer) + "/cmdline");

  // The second Connect meets a DVR without armed faults.
  const auto clearAt = viewerStart + std::chrono::milliseconds(
                                         static_cast<int>(scenario.quitAfterSeconds * 1000) - 300);
  // Commands that need a running session: once the live stream is there, and never so late
  // that they would meet the second Connect.
  if (!scenario.liveCommands.empty() &&
      waitForConnection(socket, "live", std::min(viewerStart + kSessionWait, clearAt))) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300 + scenario.seed % 700));
    if (Clock::now() < clearAt) {
      for (const auto& command : scenario.liveCommands) controlCommand(socket, command);
    }
  }
  std::optional<int> status;
  const auto deadline =
      viewerStart + std::chrono::milliseconds(
                        static_cast<int>((scenario.quitAfterSeconds + kViewerGraceSeconds) * 1000));
  bool cleared = false;
  while (!(status = waitUntil(viewer,
                              std::min(deadline, Clock::now() + std::chrono::milliseconds(50)))) &&
         Clock::now() < deadline) {
    if (!cleared && Clock::now() >= clearAt) {
      controlCommand(socket, "clear-faults");
      cleared = true;
    }
  }
  if (!status) {
    result.failures.push_back("viewer hung (killed)");
    ::kill(viewer, SIGABRT);
    if (!waitUntil(viewer, Clock::now() + std::chrono::seconds(10))) ::kill(viewer, SIGKILL);
    waitUntil(viewer, Clock::now() + std::chrono::seconds(5));
  }
  stopProcess(emulator, socket);

  const std::string err = readWholeFile((dir / "viewer.stderr").string());
  const std::string out = readWholeFile((dir / "viewer.stdout").string());
  const ViewerReport report = parseViewerStderr(err);
  if (status) {
    // A first session that never reached "Connected." ends the run with status 3.
    const int wanted = firstSessionConnected(report) ? 0 : 3;
    if (!WIFEXITED(*status) || WEXITSTATUS(*status) != wanted) {
      result.failures.push_back(WIFSIGNALED(*status)
                                    ? "viewer killed by signal " + std::to_string(WTERMSIG(*status))
                                    : "viewer exit status " + std::to_string(WEXITSTATUS(*status)) +
                                          " (wanted " + std::to_string(wanted) + ")");
    }
  }
  for (auto& f : checkReport(scenario, report)) result.failures.push_back(std::move(f));
  if (err.find(password) != std::string::npos || out.find(password) != std::string::npos)
    result.failures.push_back("password in the viewer's output");
  if (cmdline.find(password) != std::string::npos)
    result.failures.push_back("password in the viewer's arguments");
  for (const auto& entry : fs::recursive_directory_iterator(dir / "data")) {
    if (entry.is_regular_file() &&
        readWholeFile(entry.path().string()).find(password) != std::string::npos)
      result.failures.push_back("password in " + entry.path().filename().string());
  }

  result.slowestUiMs = report.slowestUiMs.value_or(-1);
  result.heldUiMs = report.heldUiMs.value_or(-1);
  result.finalStatus = report.statuses.empty() ? "" : report.statuses.back();
  result.passed = result.failures.empty();
  result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  if (result.passed && !settings.keepLogs) {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  } else {
    result.logDir = dir.string();
  }
  return result;
}
