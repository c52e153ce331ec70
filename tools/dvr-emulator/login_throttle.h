#pragma once
// Slows password guessing: after a few failed logins from one host, each further attempt from
// that host waits its turn, the wait doubling with every failure up to a ceiling. A success or a
// quiet minute forgets the host.
#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>

namespace dvremu {

class LoginThrottle {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kFreeFailures = 3;  // typos cost nothing
  static constexpr auto kFirstDelay = std::chrono::milliseconds(500);
  static constexpr auto kMaxDelay = std::chrono::seconds(8);
  static constexpr auto kForgetAfter = std::chrono::seconds(60);

  // The time at which this attempt from host may be checked. Attempts from a host with failures
  // behind it are spaced out, so parallel connections don't multiply the guessing rate.
  Clock::time_point reserve(const std::string& host, Clock::time_point now);
  void recordFailure(const std::string& host, Clock::time_point now);
  void recordSuccess(const std::string& host);
  // The wait after `failures` failed logins.
  static Clock::duration delayAfter(int failures);

 private:
  struct Entry {
    int failures = 0;
    Clock::time_point nextSlot;
    Clock::time_point lastFailure;
  };
  void pruneLocked(Clock::time_point now);

  std::mutex mutex_;  // guards entries_; every connection thread logs in through it
  std::unordered_map<std::string, Entry> entries_;
};

}  // namespace dvremu
