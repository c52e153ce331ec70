// Audio through late blocks: the real main window (offscreen) plays the audio of dvr-emulator in
// this process, which sends each 200 ms block up to 0, 40 or 100 ms late, into a wave-out device
// that plays in real time without sound. For G.726 and for 3-bit audio it prints the jitter
// buffer's underruns (gaps it had to conceal) and its longest gap, the device's own underruns
// (times it ran dry between blocks), and the playout delay: audio queued ahead of each block as
// it arrives, the device's queue included (median, and the target the buffer settled on).
// Beside them, how often a thread of this process that asks to wake every 5 ms woke more than
// 50 ms late, and the longest such stall: on a loaded machine those stalls, not the network,
// are what runs a device dry.
//
//   bench_audio_jitter [--seconds N]   N seconds per codec and jitter [600]
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/control_ids.h"
#include "app/viewer_dlg.h"
#include "audio/audio_dlg.h"
#include "dvr_emulator.h"
#include "emulator_config.h"
#include "platform/data_directory.h"
#include "platform/dialog_host.h"
#include "platform/display_qt_backend.h"
#include "platform/message_window.h"
#include "platform/messages.h"
#include "ui/connect_dlg.h"
#include "ui/control_id.h"
#include "viewer_live/application.h"
#include "viewer_live/paced_wave_out.h"

namespace {

// A thread that sleeps 5 ms at a time and counts how often it woke more than 50 ms late.
class StallProbe {
 public:
  StallProbe() : thread_([this] { run(); }) {}
  ~StallProbe() {
    stop_.store(true);
    thread_.join();
  }
  void clear() {
    stalls_.store(0);
    longestUs_.store(0);
  }
  uint64_t stalls() const { return stalls_.load(); }
  double longestMs() const { return double(longestUs_.load()) / 1000.0; }

 private:
  void run() {
    using Clock = std::chrono::steady_clock;
    while (!stop_.load()) {
      const auto asked = Clock::now() + std::chrono::milliseconds(5);
      std::this_thread::sleep_until(asked);
      const auto lateUs =
          std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - asked).count();
      if (lateUs > 50'000) {
        stalls_.fetch_add(1);
        longestUs_.store(std::max<int64_t>(longestUs_.load(), lateUs));
      }
    }
  }
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> stalls_{0};
  std::atomic<int64_t> longestUs_{0};
  std::thread thread_;
};

struct Figures {
  uint64_t underruns = 0;
  double longestGapMs = 0;
  uint64_t deviceUnderruns = 0;
  double deviceLongestGapMs = 0;
  int medianDelayMs = 0;
  int targetMs = 0;
  uint64_t blocks = 0;
  uint64_t stalls = 0;
  double longestStallMs = 0;
};

class JitterRun {
 public:
  JitterRun(int jitterMs, double seconds) : jitterMs_(jitterMs), seconds_(seconds) {}
  ~JitterRun();
  bool start();
  Figures measure(const char* codec);

 private:
  void settle(double seconds) {
    platform::processMessagesUntil([] { return false; }, static_cast<int>(seconds * 1000));
  }
  void press(int controlId) {
    platform::sendMessage(window_->windowId(), msg::kCommand, static_cast<uintptr_t>(controlId), 0);
  }

  int jitterMs_;
  double seconds_;
  QTemporaryDir dataDir_;
  std::unique_ptr<dvremu::DvrEmulator> emulator_;
  CQtDisplayBackend backend_;
  bench::CPacedWaveOut waveOut_;
  CRecordingDialogHost dialogs_;
  std::unique_ptr<CViewerDlg> window_;
  StallProbe probe_;
};

bool JitterRun::start() {
  const std::vector<std::string> args = {
      "--listen",       "127.0.0.1:0", "--user",         "demo",
      "--password",     "demo",        "--channels",     "1",
      "--fps",          "5",           "--size",         "352x240",
      "--audio-source", "speech",      "--audio-jitter", std::to_string(jitterMs_)};
  auto parsed = dvremu::parseCommandLine(args);
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "emulator: %s\n", parsed.error.c_str());
    return false;
  }
  emulator_ = std::make_unique<dvremu::DvrEmulator>(parsed.config);
  emulator_->core().log().setQuiet(true);
  std::string error;
  if (!emulator_->start(&error)) {
    std::fprintf(stderr, "emulator: %s\n", error.c_str());
    return false;
  }

  platform::setDataDirectoryOverride(dataDir_.path());
  dialogs_.answerDialog = [this](QDialog& dialog) -> int {
    if (auto* connect = qobject_cast<CConnectDlg*>(&dialog)) {
      findControl<QComboBox>(connect, CConnectDlg::kAddressId)
          ->setEditText(QStringLiteral("127.0.0.1"));
      findControl<QLineEdit>(connect, CConnectDlg::kPortId)
          ->setText(QString::number(emulator_->port()));
      findControl<QLineEdit>(connect, CConnectDlg::kUserIdId)->setText(QStringLiteral("demo"));
      findControl<QLineEdit>(connect, CConnectDlg::kPasswordId)->setText(QStringLiteral("demo"));
      connect->onConnect();
      return connect->result();
    }
    return QDialog::Rejected;
  };
  platform::setDialogHost(&dialogs_);
  CViewerDlg::Services services;
  services.displayBackend = &backend_;
  services.waveOut = &waveOut_;
  window_ = std::make_unique<CViewerDlg>(services);
  window_->initDialog();
  window_->show();

  bool connected = false;
  window_->onConnected = [&] { connected = true; };
  press(ctl::kConnect);
  platform::processMessagesUntil([&] { return connected; }, 10000);
  window_->onConnected = nullptr;
  if (!connected) {
    std::printf("not connected: %s\n", window_->statusText().toUtf8().constData());
    return false;
  }
  press(ctl::kFirstChannel);
  settle(1.0);
  press(ctl::kAudioOn);
  return true;
}

Figures JitterRun::measure(const char* codec) {
  emulator_->execute(std::string("audio-codec ") + codec);
  settle(3.0);  // past the start delay and the codec switch
  CAudioPlayer& player = window_->audioWindow().player();
  player.clearPlayoutCounters();
  waveOut_.clearCounts();
  probe_.clear();
  settle(seconds_);
  const JitterBufferStats stats = player.playoutStats();
  Figures f;
  f.underruns = stats.underruns;
  f.longestGapMs = double(stats.longestGapSamples) / 8.0;
  f.deviceUnderruns = waveOut_.underruns();
  f.deviceLongestGapMs = waveOut_.longestGapMs();
  f.medianDelayMs = stats.medianDelayMs();
  f.targetMs = stats.targetDelayMs;
  f.blocks = stats.arrivals;
  f.stalls = probe_.stalls();
  f.longestStallMs = probe_.longestMs();
  if (!window_->isConnected()) {
    std::printf("  connection lost: %s\n", window_->statusText().toUtf8().constData());
  }
  return f;
}

JitterRun::~JitterRun() {
  if (window_) {
    press(ctl::kAudioOff);
    press(ctl::kDisconnect);
    platform::processMessagesUntil([&] { return window_->client() == nullptr; }, 5000);
    window_.reset();
  }
  platform::setDialogHost(nullptr);
  if (emulator_) emulator_->stop();
}

int runAll(double seconds) {
  std::printf("audio through late blocks, %.0f s per codec and jitter:\n", seconds);
  std::printf("  %-6s %6s %7s %9s %13s %15s %12s %9s %16s\n", "codec", "jitter", "blocks",
              "underruns", "longest gap", "device dry (ms)", "median delay", "target",
              "stalls (ms)");
  bool met = true;
  for (const int jitterMs : {0, 40, 100}) {
    JitterRun run(jitterMs, seconds);
    if (!run.start()) return 1;
    for (const auto& [name, codec] : {std::pair{"G.726", "g726"}, std::pair{"3-bit", "adpcm"}}) {
      const Figures f = run.measure(codec);
      std::printf("  %-6s %3d ms %7llu %9llu %10.1f ms %6llu (%5.1f) %9d ms %6d ms %6llu (%5.1f)\n",
                  name, jitterMs, static_cast<unsigned long long>(f.blocks),
                  static_cast<unsigned long long>(f.underruns), f.longestGapMs,
                  static_cast<unsigned long long>(f.deviceUnderruns), f.deviceLongestGapMs,
                  f.medianDelayMs, f.targetMs, static_cast<unsigned long long>(f.stalls),
                  f.longestStallMs);
      std::fflush(stdout);
      const double perMinute = double(f.underruns + f.deviceUnderruns) * 60.0 / seconds;
      if ((jitterMs <= 40 && f.underruns + f.deviceUnderruns > 0) || perMinute > 1.0 ||
          f.medianDelayMs >= 250) {
        met = false;
      }
    }
  }
  std::printf(
      "targets (0 underruns at 40 ms, at most one a minute at 100 ms, median delay "
      "under 250 ms): %s\n",
      met ? "met" : "NOT met");
  return met ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 600;
  for (int i = 1; i < argc; ++i) {
    char* end = nullptr;
    if (std::string(argv[i]) == "--seconds" && i + 1 < argc) {
      seconds = std::strtod(argv[++i], &end);
      if (end != argv[i] && *end == '\0' && seconds > 0) continue;
    }
    std::fprintf(stderr, "usage: bench_audio_jitter [--seconds N]\n");
    return 2;
  }
  return bench::runInApplication(argc, argv, [&] { return runAll(seconds); });
}
