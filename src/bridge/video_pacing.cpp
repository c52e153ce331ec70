#include "bridge/video_pacing.h"

#include <algorithm>

namespace {

constexpr int64_t kMinStepNs = 1'000'000;     // 1 ms
constexpr int64_t kMaxGapNs = 1'000'000'000;  // a longer gap is a pause, not a frame interval

}  // namespace

void CFrameInterval::arrived(int64_t arrivalNs) {
  if (last_ >= 0 && arrivalNs > last_) {
    const int64_t delta = std::min(arrivalNs - last_, kMaxGapNs);
    // An average over the last eight or so intervals: the sum of bunched and stretched
    // intervals is the real time elapsed, so the mean stays the sender's rate.
    mean_ = mean_ == 0 ? delta : mean_ + (delta - mean_) / 8;
  }
  last_ = arrivalNs;
}

int64_t pacedTimestamp(int64_t arrivalNs, int64_t lastNs, int64_t meanIntervalNs) {
  const int64_t at = std::max<int64_t>(arrivalNs, 0);
  if (lastNs < 0) return at;
  return std::max(at, lastNs + std::max(kMinStepNs, meanIntervalNs * 19 / 20));
}
