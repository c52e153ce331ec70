// The monitor window end to end: the real window (offscreen) against dvr-emulator in this process
// serving 16 channels of 704x480 pre-encoded loops. Per case it prints the new pictures painted
// per second per tile (min / median / max) and in all, the frames lost on the way (requested but
// not arrived; arrived but never painted), the viewer's CPU per painted picture split into
// decoding, scaling, the UI thread and the rest, the viewer's CPU in % of one core (the
// emulator's threads taken out), the UI thread's longest stall (a heartbeat timer), the latency
// from a frame's arrival to its first paint, and the viewer's peak resident memory. Then each
// target, met or by how much not.
//
//   bench_monitor_live [--seconds N] [--rounds N] [--round-seconds N] [--case NAME]...
// Cases: 16, 4, enlarged, unpaced, mixed (default: all).
#include <QCoreApplication>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "monitor_live/live_run.h"
#include "monitor_live/machine_load.h"
#include "viewer_live/application.h"

namespace {

using bench::RunResult;
using bench::RunSetup;

struct Options {
  double seconds = 10;      // per paced case
  int rounds = 3;           // per decoding thread count, unpaced
  double roundSeconds = 3;  // unpaced
  std::set<std::string> cases;
  bool wants(const std::string& name) const { return cases.empty() || cases.count(name) > 0; }
};

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double percentOf(uint64_t part, uint64_t whole) {
  return whole > 0 ? 100.0 * double(part) / double(whole) : 0;
}

uint64_t notArrived(const RunResult& r) {
  return r.unanswered;
}
uint64_t notDrawn(const RunResult& r) {
  return r.arrived > r.painted ? r.arrived - r.painted : 0;
}

void printHeading() {
  std::printf("%-26s %20s %6s %17s %36s %7s %8s %14s %6s\n", "case", "fps per tile", "all",
              "lost: not arrived,", "CPU ms per picture: decode + scale", "viewer", "UI held",
              "arrival to", "RSS");
  std::printf("%-26s %20s %6s %17s %36s %7s %8s %14s %6s\n", "", "min / median / max", "",
              "not painted (%)", "+ UI + Qt helpers + rest = all", "CPU %", "max ms", "paint, ms",
              "MB");
}

void printRow(const char* name, const RunResult& r) {
  if (!r.ok) {
    std::printf("%-26s failed: %s\n", name, r.error.c_str());
    return;
  }
  const auto [low, high] = std::minmax_element(r.tileFps.begin(), r.tileFps.end());
  char lost[64];
  std::snprintf(lost, sizeof lost, "%llu, %llu (%.2f)",
                static_cast<unsigned long long>(notArrived(r)),
                static_cast<unsigned long long>(notDrawn(r)), percentOf(notDrawn(r), r.arrived));
  char cpu[80];
  std::snprintf(cpu, sizeof cpu, "%.2f + %.2f + %.2f + %.2f + %.2f = %.2f", r.decodeMs, r.scaleMs,
                r.uiMs, r.helperMs, r.restMs,
                r.decodeMs + r.scaleMs + r.uiMs + r.helperMs + r.restMs);
  char fps[48];
  std::snprintf(fps, sizeof fps, "%.1f / %.1f / %.1f", *low, median(r.tileFps), *high);
  char latency[32];
  std::snprintf(latency, sizeof latency, "%.1f / %.1f", r.latencyMedianMs, r.latencyP99Ms);
  std::printf("%-26s %20s %6.1f %17s %36s %7.1f %8.1f %14s %6.1f\n", name, fps, r.totalFps, lost,
              cpu, r.viewerPercent, r.heartbeatMs, latency, r.residentMb);
  std::printf(
      "%-26s not painted: %llu skipped before decoding, %llu damaged, %llu replaced before the UI "
      "took them, %llu before a paint; emulator CPU %.1f %%\n",
      "", static_cast<unsigned long long>(r.skipped), static_cast<unsigned long long>(r.failed),
      static_cast<unsigned long long>(r.replacedInPool),
      static_cast<unsigned long long>(r.replacedInTile), r.emulatorPercent);
}

struct Verdicts {
  std::vector<std::string> lines;
  void add(const std::string& target, bool met, const std::string& measured) {
    lines.push_back("  " + target + ": " + (met ? "met" : "NOT met") + " (" + measured + ")");
  }
};

std::string format(const char* pattern, double a, double b = 0) {
  char text[160];
  std::snprintf(text, sizeof text, pattern, a, b);
  return text;
}

long programKb = 0;

RunResult paced(const RunSetup& base, double seconds, int mpeg4, std::string* error) {
  bench::CBenchDvr dvr(25, mpeg4);
  if (!dvr.start(error)) return {};
  RunSetup setup = base;
  setup.seconds = seconds;
  return bench::measureRun(dvr, setup, programKb);
}

int run(const Options& options) {
  programKb = bench::residentKb();
  const bench::MachineLoad load = bench::measureMachineLoad(1000);
  std::printf(
      "monitor_live: %ld cores online; load average %s; %d other processes running; other "
      "processes used %.0f %% of all cores over 1 s\n",
      sysconf(_SC_NPROCESSORS_ONLN), load.loadAverage.c_str(), load.otherRunning,
      load.othersPercent);
  std::printf(
      "16 channels of 704x480 from dvr-emulator in this process (its threads' CPU taken out), "
      "%.0f s per case at 25 fps\n\n",
      options.seconds);
  printHeading();
  Verdicts verdicts;
  bool failed = false;
  std::string error;
  const auto lossOk = [](const RunResult& r) {
    return r.ok && percentOf(notDrawn(r) + notArrived(r), r.requested) < 1.0;
  };

  if (options.wants("16")) {
    const RunResult r = paced({GridLayout::Sixteen, 16, {1280, 720}}, options.seconds, 0, &error);
    printRow("16 tiles 1280x720 25 fps", r);
    failed |= !r.ok;
    verdicts.add("16 tiles: every frame painted (loss under 1 %)", lossOk(r),
                 format("%.2f %% lost", percentOf(notDrawn(r) + notArrived(r), r.requested)));
    verdicts.add("16 tiles: viewer CPU at most 75 %", r.ok && r.viewerPercent <= 75,
                 format("%.1f %%", r.viewerPercent));
    verdicts.add("16 tiles: UI thread never held over 50 ms", r.ok && r.heartbeatMs <= 50,
                 format("%.1f ms", r.heartbeatMs));
    verdicts.add("16 tiles: median arrival to paint under 20 ms", r.ok && r.latencyMedianMs < 20,
                 format("%.1f ms", r.latencyMedianMs));
    verdicts.add("16 tiles: peak resident memory at most 150 MB", r.ok && r.residentMb <= 150,
                 format("%.1f MB", r.residentMb));
  }
  if (options.wants("4")) {
    const RunResult r = paced({GridLayout::Four, 4, {1280, 720}}, options.seconds, 0, &error);
    printRow("4 tiles 1280x720 25 fps", r);
    failed |= !r.ok;
    verdicts.add("4 tiles: viewer CPU at most 25 %", r.ok && r.viewerPercent <= 25,
                 format("%.1f %%", r.viewerPercent));
  }
  if (options.wants("enlarged")) {
    RunSetup setup{GridLayout::Four, 4, {1920, 1080}};
    setup.enlarged = true;
    const RunResult r = paced(setup, options.seconds, 0, &error);
    printRow("1 of 4 enlarged 1920x1080", r);
    failed |= !r.ok;
    verdicts.add("enlarged: viewer CPU at most 15 %", r.ok && r.viewerPercent <= 15,
                 format("%.1f %%", r.viewerPercent));
    verdicts.add("enlarged: median arrival to paint under 10 ms", r.ok && r.latencyMedianMs < 10,
                 format("%.1f ms", r.latencyMedianMs));
  }
  if (options.wants("mixed")) {
    const RunResult r = paced({GridLayout::Sixteen, 16, {1280, 720}}, options.seconds, 4, &error);
    printRow("12 JPEG + 4 MPEG-4 25 fps", r);
    failed |= !r.ok;
    verdicts.add("mixed: every frame painted (loss under 1 %)", lossOk(r),
                 format("%.2f %% lost", percentOf(notDrawn(r) + notArrived(r), r.requested)));
    verdicts.add("mixed: viewer CPU at most 100 %", r.ok && r.viewerPercent <= 100,
                 format("%.1f %%", r.viewerPercent));
  }
  if (options.wants("unpaced")) {
    // Rounds of one and two decoding threads in turn, so a change in the machine's load meets
    // both; each round is a new window and session.
    bench::CBenchDvr dvr(0, 0);
    if (!dvr.start(&error)) {
      std::printf("emulator: %s\n", error.c_str());
      return 1;
    }
    std::vector<RunResult> results[2];
    for (int round = 0; round < options.rounds * 2; ++round) {
      const int threads = (round % 2 == 0) == (round / 2 % 2 == 0) ? 1 : 2;
      RunSetup setup{GridLayout::Sixteen, 16, {1280, 720}};
      setup.decodeThreads = threads;
      setup.seconds = options.roundSeconds;
      results[threads - 1].push_back(bench::measureRun(dvr, setup, programKb));
      failed |= !results[threads - 1].back().ok;
    }
    double medians[2] = {};
    for (int k = 0; k < 2; ++k) {
      std::vector<RunResult>& list = results[k];
      std::sort(list.begin(), list.end(),
                [](const RunResult& a, const RunResult& b) { return a.totalFps < b.totalFps; });
      const RunResult& middle = list[list.size() / 2];
      medians[k] = middle.totalFps;
      printRow(k == 0 ? "16 tiles unpaced, 1 thread" : "16 tiles unpaced, 2 threads", middle);
    }
    const double ratio = medians[0] > 0 ? medians[1] / medians[0] : 0;
    std::printf(
        "%-26s 2 decoding threads / 1: %.2f x pictures painted a second (medians of %d "
        "rounds each)\n",
        "", ratio, options.rounds);
    verdicts.add("unpaced: 2 decoding threads at least 1.8 x one", ratio >= 1.8,
                 format("%.2f x", ratio));
  }
  if (!error.empty()) std::printf("emulator: %s\n", error.c_str());
  std::printf("\ntargets:\n");
  for (const std::string& line : verdicts.lines) std::printf("%s\n", line.c_str());
  return failed ? 1 : 0;
}

bool parseOptions(int argc, char** argv, Options* options) {
  static const std::set<std::string> known = {"16", "4", "enlarged", "unpaced", "mixed"};
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (i + 1 >= argc) return false;
    const std::string value = argv[++i];
    if (option == "--case") {
      if (known.count(value) == 0) return false;
      options->cases.insert(value);
      continue;
    }
    char* end = nullptr;
    const double number = std::strtod(value.c_str(), &end);
    if (end == value.c_str() || *end != '\0' || number <= 0) return false;
    if (option == "--seconds") {
      options->seconds = number;
    } else if (option == "--round-seconds") {
      options->roundSeconds = number;
    } else if (option == "--rounds") {
      options->rounds = std::max(1, int(number));
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: bench_monitor_live [--seconds N] [--rounds N] [--round-seconds N] "
                 "[--case 16|4|enlarged|unpaced|mixed]...\n");
    return 2;
  }
  return bench::runInApplication(argc, argv, [&] {
    const int status = run(options);
    std::fflush(stdout);
    return status;
  });
}
