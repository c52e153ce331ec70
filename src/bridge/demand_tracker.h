#pragma once
// Which channels the bridge pulls from the DVR: those that a client watches now, and those whose
// last client left less than the grace ago (a page reload or a client's reconnect doesn't stop
// and restart the channel). An idle bridge pulls nothing. Pure logic, clock passed in; one thread.
#include <array>
#include <chrono>
#include <cstdint>

class CDemandTracker {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  static constexpr size_t kChannels = 16;

  explicit CDemandTracker(std::chrono::milliseconds grace) : grace_(grace) {}

  // clients[n]: clients of channel n now. Returns the channels to pull (bit n: channel n).
  uint32_t update(TimePoint now, const std::array<int, kChannels>& clients);

 private:
  std::chrono::milliseconds grace_;
  std::array<bool, kChannels> watched_{};
  std::array<TimePoint, kChannels> lastWatched_{};
};
