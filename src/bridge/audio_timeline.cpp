#include "bridge/audio_timeline.h"

CAudioTimeline::Span CAudioTimeline::fill(int64_t now) {
  if (now - next_ < kGapSamples) return {};
  const Span silence{next_, now - kBehindSamples - next_};
  next_ += silence.count;
  return silence;
}

std::optional<int64_t> CAudioTimeline::place(int64_t now, int64_t count) {
  if (count <= 0) return std::nullopt;
  if (next_ + count - now > kMaxAheadSamples) {
    dropped_ += static_cast<uint64_t>(count);
    return std::nullopt;
  }
  const int64_t start = next_;
  next_ += count;
  return start;
}
