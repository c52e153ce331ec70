// fault-campaign: seeded runs of the real viewer against dvr-emulator with random faults, two
// at a time. Each run's seed replays it alone (--only SEED).
//   fault-campaign --build build/asan [--runs 1000] [--seed 1] [--jobs 2] [--work DIR]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "campaign_run.h"
#include "scenario.h"

namespace {
uint64_t splitmix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

struct KindCount {
  int runs = 0;
  int failed = 0;
};

int usage() {
  std::fprintf(stderr,
               "usage: fault-campaign --build DIR [--runs N] [--seed S] [--jobs N] [--work DIR] "
               "[--only RUNSEED] [--keep-logs] [--list]\n");
  return 2;
}
}  // namespace

int main(int argc, char** argv) {
  std::string build;
  std::string work = (std::filesystem::temp_directory_path() / "fault-campaign").string();
  int runs = 1000;
  int jobs = 2;
  uint64_t seed = 1;
  bool listOnly = false;
  std::vector<uint64_t> only;
  RunSettings settings;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--build" && hasValue) {
      build = argv[++i];
    } else if (a == "--runs" && hasValue) {
      runs = std::atoi(argv[++i]);
    } else if (a == "--seed" && hasValue) {
      seed = std::strtoull(argv[++i], nullptr, 0);
    } else if (a == "--jobs" && hasValue) {
      jobs = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--work" && hasValue) {
      work = argv[++i];
    } else if (a == "--only" && hasValue) {
      only.push_back(std::strtoull(argv[++i], nullptr, 0));
    } else if (a == "--list") {
      listOnly = true;
    } else if (a == "--keep-logs") {
      settings.keepLogs = true;
    } else {
      return usage();
    }
  }
  if (build.empty() || runs <= 0) return usage();
  settings.viewer = build + "/src/pelloxview";
  settings.emulator = build + "/tools/dvr-emulator/dvr-emulator";
  settings.workDir = work;
  std::filesystem::create_directories(work);

  std::vector<uint64_t> seeds = only;
  if (seeds.empty()) {
    for (int i = 0; i < runs; ++i)
      seeds.push_back(splitmix(seed * 1000003ULL + static_cast<uint64_t>(i)));
  }

  if (listOnly) {  // the scenarios the seeds draw, without running them
    for (const uint64_t s : seeds) std::printf("%s\n", describe(drawScenario(s)).c_str());
    return 0;
  }

  std::mutex mutex;  // guards everything below the workers share
  std::map<std::string, KindCount> kinds;
  std::vector<std::string> failures;
  long long slowest = -1;
  uint64_t slowestSeed = 0;
  long long held = -1;
  uint64_t heldSeed = 0;
  std::vector<long long> heldAll;
  int passed = 0;
  int done = 0;
  std::atomic<size_t> next{0};
  const auto started = std::chrono::steady_clock::now();

  auto worker = [&] {
    for (size_t i; (i = next.fetch_add(1)) < seeds.size();) {
      const Scenario scenario = drawScenario(seeds[i]);
      const RunResult result = runScenario(scenario, settings);
      std::lock_guard lock(mutex);
      ++done;
      if (result.passed) ++passed;
      for (const auto& k : scenario.kinds) {
        ++kinds[k].runs;
        if (!result.passed) ++kinds[k].failed;
      }
      heldAll.push_back(result.heldUiMs);
      if (result.heldUiMs > held) {
        held = result.heldUiMs;
        heldSeed = scenario.seed;
      }
      if (result.slowestUiMs > slowest) {
        slowest = result.slowestUiMs;
        slowestSeed = scenario.seed;
      }
      std::string kindList;
      for (const auto& k : scenario.kinds) kindList += (kindList.empty() ? "" : ",") + k;
      std::printf("[%d/%zu] %s seed %llu %s ui %lld ms (held %lld), %.1f s, status '%s'\n", done,
                  seeds.size(), result.passed ? "ok  " : "FAIL",
                  static_cast<unsigned long long>(scenario.seed), kindList.c_str(),
                  result.slowestUiMs, result.heldUiMs, result.seconds, result.finalStatus.c_str());
      if (!result.passed) {
        std::string line = describe(scenario) + ":";
        for (const auto& f : result.failures) line += " " + f + ";";
        line += " logs " + result.logDir;
        std::printf("    %s\n", line.c_str());
        failures.push_back(line);
      }
      std::fflush(stdout);
    }
  };
  std::vector<std::thread> workers;
  for (int j = 0; j < jobs; ++j) workers.emplace_back(worker);
  for (auto& w : workers) w.join();

  const double minutes =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() / 60;
  std::printf("\nfault campaign: %d runs, %d passed, %zu failed, %.1f min, %d at a time\n", done,
              passed, failures.size(), minutes, jobs);
  std::sort(heldAll.begin(), heldAll.end());
  std::printf(
      "slowest UI heartbeat gap: %lld ms (seed %llu), of it held by the viewer at most "
      "%lld ms (seed %llu); median held %lld ms\n",
      slowest, static_cast<unsigned long long>(slowestSeed), held,
      static_cast<unsigned long long>(heldSeed),
      heldAll.empty() ? -1LL : heldAll[heldAll.size() / 2]);
  std::printf("%-32s %6s %6s\n", "fault kind", "runs", "failed");
  for (const auto& [name, count] : kinds)
    std::printf("%-32s %6d %6d\n", name.c_str(), count.runs, count.failed);
  if (!failures.empty()) {
    std::printf("\nfailures (replay one with --only SEED):\n");
    for (const auto& f : failures) std::printf("  %s\n", f.c_str());
  }
  return failures.empty() ? 0 : 1;
}
