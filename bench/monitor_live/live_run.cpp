#include "monitor_live/live_run.h"

#include <QTemporaryDir>
#include <QTimer>

#include <dirent.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>

#include "audio/recording_wave_out.h"
#include "dvr_emulator.h"
#include "emulator_config.h"
#include "monitor/monitor_window.h"
#include "platform/data_directory.h"
#include "platform/message_window.h"

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kChannels = 16;
constexpr int kHeartbeatMs = 20;
constexpr int kSettleMs = 1000;  // past the first pictures, decoders and scales settled
constexpr int kTailMs = 300;     // pictures of frames that arrived in the measured time

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
  return platform::processMessagesUntil(done, timeoutMs);
}

double msBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

double percentile(std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  return sorted[std::min(sorted.size() - 1, size_t(double(sorted.size()) * p))];
}

// A timer on the UI thread: how late it fires tells how long the thread was held.
class Heartbeat {
 public:
  explicit Heartbeat(std::function<void()> each) : each_(std::move(each)) {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(kHeartbeatMs);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const auto now = Clock::now();
      if (last_ != Clock::time_point{})
        worstMs_ = std::max(worstMs_, msBetween(last_, now) - kHeartbeatMs);
      last_ = now;
      each_();
    });
    timer_.start();
  }
  void restart() {
    last_ = {};
    worstMs_ = 0;
  }
  double worstMs() const { return worstMs_; }

 private:
  std::function<void()> each_;
  QTimer timer_;
  Clock::time_point last_{};
  double worstMs_ = 0;
};

// CPU time of Qt's own helper threads (its global thread pool: the raster engine spreads large
// fills, blends and scales over them), in ns at the kernel's tick resolution.
uint64_t qtHelperCpuNs() {
  uint64_t ticks = 0;
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) return 0;
  while (dirent* entry = readdir(tasks)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream stat(std::string("/proc/self/task/") + entry->d_name + "/stat");
    std::string text;
    std::getline(stat, text);
    const size_t open = text.find('('), close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close + 2 >= text.size() ||
        text.compare(open + 1, close - open - 1, "Thread (pooled)") != 0)
      continue;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    for (int i = 3; fields >> field; ++i) {  // field 3 is the state; 14 and 15 user and system
      if (i == 14 || i == 15) ticks += std::stoull(field);
      if (i == 15) break;
    }
  }
  closedir(tasks);
  return ticks * 1000000000u / uint64_t(sysconf(_SC_CLK_TCK));
}

struct Snapshot {
  std::array<uint64_t, kChannels> requested{}, delivered{};
  TileDecodeStats pool;
  uint64_t unpainted = 0, processNs = 0, emulatorNs = 0, uiNs = 0, helperNs = 0;
  Clock::time_point at;
};

Snapshot snapshot(CMonitorWindow& window, const CBenchDvr& dvr) {
  Snapshot s;
  for (int c = 0; c < kChannels; ++c) {
    s.requested[size_t(c)] = window.session().framesRequested(uint8_t(c));
    s.delivered[size_t(c)] = window.session().framesDelivered(uint8_t(c));
  }
  s.pool = window.decodeStats();
  s.unpainted = window.unpaintedPictures();
  s.emulatorNs = dvr.cpuNs();
  s.uiNs = threadCpuNs();
  s.helperNs = qtHelperCpuNs();
  s.processNs = processCpuNs();
  s.at = Clock::now();
  return s;
}

}  // namespace

long residentKb() {
  long pages = 0, resident = 0;
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return 0;
  if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
  std::fclose(statm);
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

CBenchDvr::CBenchDvr(double fps, int mpeg4) : fps_(fps), mpeg4_(mpeg4) {}

CBenchDvr::~CBenchDvr() {
  if (emulator_) emulator_->stop();
}

bool CBenchDvr::start(std::string* error) {
  std::vector<std::string> args = {"--listen",   "127.0.0.1:0", "--user",           "demo",
                                   "--password", "demo",        "--alive-interval", "0",
                                   "--channels", "16"};
  for (int c = 1; c <= kChannels; ++c) {
    const bool mpeg4 = c > kChannels - mpeg4_;
    char channel[96];
    // A loop of a second for each channel: its own moving scene, decoded like a live one.
    std::snprintf(channel, sizeof channel, "%d:size=704x480,codec=%s,fps=%g,preencode=%d", c,
                  mpeg4 ? "mpeg4" : "jpeg", fps_, mpeg4 ? 50 : 25);
    args.emplace_back("--channel");
    args.emplace_back(channel);
  }
  auto parsed = dvremu::parseCommandLine(args);
  if (!parsed.error.empty()) {
    *error = parsed.error;
    return false;
  }
  emulator_ = std::make_unique<dvremu::DvrEmulator>(parsed.config);
  emulator_->core().log().setQuiet(true);
  emulator_->setThreadStarter(threads_.starter());
  if (!emulator_->start(error)) return false;
  return true;
}

uint16_t CBenchDvr::port() const {
  return emulator_->port();
}

RunResult measureRun(CBenchDvr& dvr, const RunSetup& setup, long programKb) {
  RunResult result;
  const long beforeWindowKb = residentKb();
  QTemporaryDir data;
  platform::setDataDirectoryOverride(data.path());
  CRecordingWaveOut waveOut;
  CMonitorWindow::Services services;
  services.waveOut = &waveOut;
  services.decodeThreads = setup.decodeThreads;
  services.captureDirectory = data.path();
  auto window = std::make_unique<CMonitorWindow>(services);
  window->resize(setup.window);
  window->setGridLayout(setup.layout);
  std::vector<int> channels(size_t(gridTileCount(setup.layout)), -1);
  for (int t = 0; t < setup.tiles && t < int(channels.size()); ++t) channels[size_t(t)] = t;
  window->setChannels(channels);
  window->show();
  if (setup.enlarged) {
    window->setFocusTile(0);
    window->toggleEnlarged();
  }

  // Every picture painted for the first time while recording, as (tile, channel, sequence),
  // and when after its frame's arrival.
  struct Shown {
    int tile, channel;
    uint64_t sequence;
    double latencyMs;
  };
  std::vector<Shown> shown;
  bool recording = false;
  window->setShownObserver([&](const CTileWidget::Shown& s) {
    if (recording)
      shown.push_back({s.tile, s.channel, s.sequence, msBetween(s.arrival, Clock::now())});
  });
  long peakKb = 0;
  int beats = 0;
  Heartbeat heartbeat([&] {
    if (++beats % 5 == 0) peakKb = std::max(peakKb, residentKb());
  });

  SessionTarget target;
  target.address = "127.0.0.1";
  target.port = dvr.port();
  target.userId = "demo";
  target.password = "demo";
  const auto finish = [&] {
    window->disconnectSession();
    waitFor([&] { return window->phase() == SessionPhase::Idle; }, 3000);
    window.reset();
    platform::setDataDirectoryOverride(QString());
  };
  const auto allPictures = [&] {
    for (int t = 0; t < window->tileCount(); ++t) {
      const CTileWidget* tile = window->tile(t);
      if (tile->isVisible() && tile->channel() >= 0 && tile->picture().isNull()) return false;
    }
    return true;
  };
  if (!window->connectTo(target) ||
      !waitFor([&] { return window->phase() == SessionPhase::Ready; }, 10000) ||
      !waitFor(allPictures, 15000)) {
    result.error = "no picture in every tile: " + window->statusText().toStdString();
    finish();
    return result;
  }
  waitFor([] { return false; }, kSettleMs);

  const Snapshot start = snapshot(*window, dvr);
  heartbeat.restart();
  peakKb = std::max(peakKb, residentKb());
  recording = true;
  waitFor([] { return false; }, int(setup.seconds * 1000));
  const Snapshot end = snapshot(*window, dvr);
  result.heartbeatMs = heartbeat.worstMs();
  peakKb = std::max(peakKb, residentKb());
  waitFor([] { return false; }, kTailMs);
  recording = false;
  const Snapshot tail = snapshot(*window, dvr);

  result.seconds = std::chrono::duration<double>(end.at - start.at).count();
  std::vector<int> perTile(size_t(window->tileCount()), 0);
  std::vector<double> latencies;
  for (const Shown& s : shown) {
    if (s.channel < 0 || s.channel >= kChannels) continue;
    const size_t c = size_t(s.channel);
    // Only pictures of frames that arrived in the measured time.
    if (s.sequence <= start.delivered[c] || s.sequence > end.delivered[c]) continue;
    ++perTile[size_t(s.tile)];
    latencies.push_back(s.latencyMs);
  }
  for (int t = 0; t < window->tileCount(); ++t) {
    if (!window->tile(t)->isVisible() || window->tile(t)->channel() < 0) continue;
    result.tileFps.push_back(perTile[size_t(t)] / result.seconds);
    result.painted += uint64_t(perTile[size_t(t)]);
  }
  result.totalFps = double(result.painted) / result.seconds;
  for (size_t c = 0; c < kChannels; ++c) {
    const uint64_t requested = end.requested[c] - start.requested[c];
    result.requested += requested;
    result.arrived += end.delivered[c] - start.delivered[c];
    // A request of the measured time is answered by the end of the tail, or lost.
    const uint64_t answered = tail.delivered[c] - start.delivered[c];
    result.unanswered += requested > answered ? requested - answered : 0;
  }
  result.skipped = end.pool.skipped - start.pool.skipped;
  result.failed = end.pool.failed - start.pool.failed;
  result.replacedInPool = end.pool.replaced - start.pool.replaced;
  result.replacedInTile = end.unpainted - start.unpainted;

  const double viewerNs =
      double(end.processNs - start.processNs) - double(end.emulatorNs - start.emulatorNs);
  const double wallNs = result.seconds * 1e9;
  result.viewerPercent = 100.0 * viewerNs / wallNs;
  result.emulatorPercent = 100.0 * double(end.emulatorNs - start.emulatorNs) / wallNs;
  const double perPicture = result.painted > 0 ? 1e-6 / double(result.painted) : 0;
  const double decodeNs = double(end.pool.decodeNs - start.pool.decodeNs);
  const double scaleNs = double(end.pool.scaleNs - start.pool.scaleNs);
  const double uiNs = double(end.uiNs - start.uiNs);
  result.decodeMs = decodeNs * perPicture;
  result.scaleMs = scaleNs * perPicture;
  const double helperNs = double(end.helperNs - start.helperNs);
  result.uiMs = uiNs * perPicture;
  result.helperMs = helperNs * perPicture;
  result.restMs = (viewerNs - decodeNs - scaleNs - uiNs - helperNs) * perPicture;
  std::sort(latencies.begin(), latencies.end());
  result.latencyMedianMs = percentile(latencies, 0.5);
  result.latencyP99Ms = percentile(latencies, 0.99);
  result.residentMb = double(peakKb - beforeWindowKb + programKb) / 1024.0;
  result.ok = true;
  finish();
  return result;
}

}  // namespace bench
