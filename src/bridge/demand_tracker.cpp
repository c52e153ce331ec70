#include "bridge/demand_tracker.h"

uint32_t CDemandTracker::update(TimePoint now, const std::array<int, kChannels>& clients) {
  uint32_t mask = 0;
  for (size_t n = 0; n < kChannels; ++n) {
    if (clients[n] > 0) {
      watched_[n] = true;
      lastWatched_[n] = now;
    } else if (watched_[n] && now - lastWatched_[n] >= grace_) {
      watched_[n] = false;
    }
    if (watched_[n]) mask |= 1u << n;
  }
  return mask;
}
