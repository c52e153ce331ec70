#include "bridge/video_pacing.h"

#include <algorithm>

namespace {

constexpr int64_t kMinStepNs = 1'000'000;     // 1 ms
constexpr int64_t kMaxGapNs = 1'000'000'000;  // a longer gap is a pause, not a frame interval
constexpr int64_t kMaxLagNs = 200'000'000;    // how far the stamps may run behind the arrivals
constexpr int64_t kWindowNs = 2'000'000'000;
constexpr size_t kMaxWindowFrames = 512;

}  // namespace

void CFrameInterval::arrived(int64_t arrivalNs) {
  if (!window_.empty() && arrivalNs < window_.back()) window_.clear();  // the clock went back
  window_.push_back(arrivalNs);
  while (window_.size() > kMaxWindowFrames ||
         (window_.size() > 2 && arrivalNs - window_.front() > kWindowNs))
    window_.pop_front();
  if (window_.size() >= 2) {
    const int64_t span = window_.back() - window_.front();
    mean_ = std::min(span / static_cast<int64_t>(window_.size() - 1), kMaxGapNs);
  }
}

int64_t pacedTimestamp(int64_t arrivalNs, int64_t lastNs, int64_t meanIntervalNs) {
  const int64_t at = std::max<int64_t>(arrivalNs, 0);
  if (lastNs < 0) return at;
  // A whole interval apart, so no two pictures share a tick of a player's frame-rate clock;
  // once that has put the stamps too far behind, half an interval, so they catch up.
  int64_t step = meanIntervalNs;
  if (lastNs + step - at > kMaxLagNs) step /= 2;
  return std::max(at, lastNs + std::max(kMinStepNs, step));
}
