#include "audio/concealment.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace {
constexpr size_t kMinPeriod = 20;   // 400 Hz
constexpr size_t kMaxPeriod = 160;  // 50 Hz
constexpr size_t kMatch = 64;       // samples compared for each candidate period
}  // namespace

void CConcealer::reset() {
  history_.fill(0);
  newest_ = filled_ = missing_ = period_ = phase_ = 0;
}

int16_t CConcealer::historyAt(size_t back) const {
  return history_[(newest_ + kHistory - back) % kHistory];
}

// The lag at which the newest samples best repeat (least mean difference).
size_t CConcealer::pitchPeriod() const {
  if (filled_ < kMaxPeriod + kMatch) return std::max<size_t>(kMinPeriod, filled_ / 2);
  size_t best = kMinPeriod;
  int64_t bestSum = std::numeric_limits<int64_t>::max();
  for (size_t lag = kMinPeriod; lag <= kMaxPeriod; ++lag) {
    int64_t sum = 0;
    for (size_t i = 1; i <= kMatch; ++i) sum += std::abs(historyAt(i) - historyAt(i + lag));
    if (sum < bestSum) {  // the shortest of equally good lags
      bestSum = sum;
      best = lag;
    }
  }
  return best;
}

int16_t CConcealer::next() {
  if (period_ == 0) return 0;
  const int16_t sample = historyAt(period_ - phase_);
  phase_ = (phase_ + 1) % period_;
  const size_t done = std::min(missing_, kFadeOut);
  ++missing_;
  return static_cast<int16_t>(int64_t(sample) * int64_t(kFadeOut - done) / int64_t(kFadeOut));
}

void CConcealer::fill(int16_t* out, size_t count) {
  if (missing_ == 0) {
    period_ = filled_ == 0 ? 0 : std::min(pitchPeriod(), filled_);
    phase_ = 0;
  }
  for (size_t i = 0; i < count; ++i) out[i] = next();
}

void CConcealer::played(int16_t* samples, size_t count) {
  if (missing_ > 0) {
    const size_t n = std::min(count, kFadeIn);
    for (size_t i = 0; i < n; ++i) {
      const int64_t w = int64_t(i + 1);
      samples[i] = static_cast<int16_t>(
          (int64_t(samples[i]) * w + int64_t(next()) * (int64_t(kFadeIn) + 1 - w)) /
          (int64_t(kFadeIn) + 1));
    }
    missing_ = 0;
  }
  for (size_t i = 0; i < count; ++i) {
    history_[newest_] = samples[i];
    newest_ = (newest_ + 1) % kHistory;
  }
  filled_ = std::min(kHistory, filled_ + count);
}
