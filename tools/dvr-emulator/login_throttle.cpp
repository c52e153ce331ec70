#include "login_throttle.h"

#include <algorithm>

namespace dvremu {
namespace {
constexpr size_t kMaxHosts = 4096;  // beyond this (many hosts failing at once) start afresh
}

LoginThrottle::Clock::duration LoginThrottle::delayAfter(int failures) {
  if (failures < kFreeFailures) return Clock::duration::zero();
  const int doublings = std::min(failures - kFreeFailures, 8);
  return std::min<Clock::duration>(kFirstDelay * (1 << doublings), kMaxDelay);
}

LoginThrottle::Clock::time_point LoginThrottle::reserve(const std::string& host,
                                                        Clock::time_point now) {
  std::lock_guard lock(mutex_);
  pruneLocked(now);
  const auto found = entries_.find(host);
  if (found == entries_.end()) return now;
  Entry& entry = found->second;
  const auto slot = std::max(now, entry.nextSlot);
  entry.nextSlot = slot + delayAfter(entry.failures);
  return slot;
}

void LoginThrottle::recordFailure(const std::string& host, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  pruneLocked(now);
  if (entries_.size() >= kMaxHosts) entries_.clear();
  Entry& entry = entries_[host];
  entry.failures = std::min(entry.failures + 1, 1000);
  entry.lastFailure = now;
  entry.nextSlot = std::max(entry.nextSlot, now + delayAfter(entry.failures));
}

void LoginThrottle::recordSuccess(const std::string& host) {
  std::lock_guard lock(mutex_);
  entries_.erase(host);
}

void LoginThrottle::pruneLocked(Clock::time_point now) {
  std::erase_if(entries_, [now](const auto& item) {
    return now - item.second.lastFailure > kForgetAfter && now >= item.second.nextSlot;
  });
}

}  // namespace dvremu
