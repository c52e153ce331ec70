#pragma once
// CPU time of threads and of the process, and which threads are the in-process emulator's, so
// its CPU can be taken out of the viewer's.
#include <pthread.h>
#include <time.h>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace bench {

inline uint64_t clockNs(clockid_t clock) {
  timespec t{};
  if (clock_gettime(clock, &t) != 0) return 0;
  return uint64_t(t.tv_sec) * 1000000000u + uint64_t(t.tv_nsec);
}

inline uint64_t threadCpuNs() {
  return clockNs(CLOCK_THREAD_CPUTIME_ID);
}

inline uint64_t processCpuNs() {
  return clockNs(CLOCK_PROCESS_CPUTIME_ID);
}

// The threads a DvrEmulator starts for its connections (its thread starter wraps them with
// run()); cpuNs() is their CPU time so far, that of finished threads included.
class CThreadGroup {
 public:
  std::function<std::thread(std::function<void()>)> starter() {
    return [this](std::function<void()> work) {
      return std::thread([this, work = std::move(work)] {
        enter();
        work();
        leave();
      });
    };
  }

  uint64_t cpuNs() const {
    std::lock_guard lock(mutex_);
    uint64_t total = finishedNs_;
    for (const auto& [thread, clock] : running_) total += clockNs(clock);
    return total;
  }

 private:
  void enter() {
    clockid_t clock{};
    if (pthread_getcpuclockid(pthread_self(), &clock) != 0) return;
    std::lock_guard lock(mutex_);
    running_[pthread_self()] = clock;
  }
  void leave() {
    std::lock_guard lock(mutex_);
    if (running_.erase(pthread_self()) > 0) finishedNs_ += threadCpuNs();
  }

  mutable std::mutex mutex_;
  std::map<pthread_t, clockid_t> running_;
  uint64_t finishedNs_ = 0;
};

}  // namespace bench
