#include "audio/jitter_buffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

int JitterBufferStats::medianDelayMs() const {
  uint64_t total = 0;
  for (uint32_t n : delayHistogram) total += n;
  if (total == 0) return 0;
  uint64_t seen = 0;
  for (int bin = 0; bin < kBins; ++bin) {
    seen += delayHistogram[bin];
    if (2 * seen >= total) return bin * kBinMs + kBinMs / 2;
  }
  return (kBins - 1) * kBinMs;
}

CJitterBuffer::CJitterBuffer(const JitterBufferConfig& config)
    : config_(config), target_(samplesOf(config.minDelayMs)) {}

CJitterBuffer::~CJitterBuffer() = default;

void CJitterBuffer::clear() {
  queue_.clear();
  state_ = State::Idle;
  correction_ = 0;
  timelineSamples_ = 0;
  transitUs_.clear();
  reserves_.clear();
  adjusted_ = 0;
  envelope_ = 0;
  sinceAdjust_ = 0;
  gapSamples_ = 0;
  concealing_ = false;
  concealer_.reset();
}

void CJitterBuffer::clearCounters() {
  const int jitterMs = stats_.jitterMs, delayMs = stats_.delayMs;
  stats_ = JitterBufferStats{};
  stats_.jitterMs = jitterMs;
  stats_.delayMs = delayMs;
  gapSamples_ = 0;
}

void CJitterBuffer::measureArrival(int64_t nowUs) {
  // How late this block is against the sender's own schedule, up to a constant: the spread of
  // these over the last arrivals is the jitter the delay has to cover.
  const int64_t transit = nowUs - timelineSamples_ * 1'000'000 / config_.sampleRate;
  transitUs_.push_back(transit);
  while (transitUs_.size() > std::max<size_t>(1, config_.jitterWindow)) transitUs_.pop_front();
  const auto [lowest, highest] = std::minmax_element(transitUs_.begin(), transitUs_.end());
  stats_.jitterMs = static_cast<int>((*highest - *lowest) / 1000);
  // Audio already handed to the device is out of reach: only what is still queued here covers
  // a late block, so the lead comes on top.
  target_ = std::clamp(samplesOf(stats_.jitterMs + config_.marginMs + config_.outputLeadMs),
                       samplesOf(config_.minDelayMs), samplesOf(config_.maxDelayMs));
  if (state_ != State::Playing) return;

  // What is queued ahead of this block is its delay. The least late of the recent blocks found
  // the most queued: that is the delay the buffer runs at, and what the target steers. Samples
  // dropped or repeated since a block arrived count into what it found.
  const int64_t ahead = static_cast<int64_t>(queue_.size()) + samplesOf(config_.outputLeadMs);
  recordDelay(ahead);
  reserves_.push_back(ahead - adjusted_);
  while (reserves_.size() > kDelayWindow) reserves_.pop_front();
  const int64_t delay = *std::max_element(reserves_.begin(), reserves_.end()) + adjusted_;
  const int64_t error = target_ - delay;
  // Steering starts once the delay is off by more than the dead band, and then goes on until
  // the target is reached.
  const bool steering = correction_ != 0 && (correction_ > 0) == (error > 0);
  correction_ = steering || std::abs(error) > samplesOf(config_.deadbandMs) ? error : 0;
}

void CJitterBuffer::recordDelay(int64_t delaySamples) {
  const int ms = msOf(delaySamples);
  stats_.delayMs = ms;
  ++stats_.delayHistogram[std::min(ms / JitterBufferStats::kBinMs, JitterBufferStats::kBins - 1)];
}

void CJitterBuffer::push(const int16_t* samples, size_t count, int64_t nowUs) {
  if (samples == nullptr || count == 0) return;
  ++stats_.arrivals;
  if (state_ == State::Idle) {
    state_ = State::Buffering;
    firstHeldUs_ = nowUs;
    reserves_.clear();
    if (!transitUs_.empty()) {
      // Back after a pause: the sender starts on a new schedule. Taken as on time, so the
      // pause itself is not measured as jitter.
      const int64_t onTime = *std::min_element(transitUs_.begin(), transitUs_.end());
      timelineSamples_ = (nowUs - onTime) * config_.sampleRate / 1'000'000;
    }
  }
  measureArrival(nowUs);
  timelineSamples_ += static_cast<int64_t>(count);
  queue_.insert(queue_.end(), samples, samples + count);
  const auto limit = static_cast<size_t>(samplesOf(config_.maxHeldMs));
  if (queue_.size() > limit) {
    const size_t excess = queue_.size() - limit;
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<ptrdiff_t>(excess));
    stats_.overflowDropped += excess;
  }
}

void CJitterBuffer::pull(int16_t* out, size_t count, int64_t nowUs) {
  if (out == nullptr || count == 0) return;
  if (state_ == State::Buffering) {
    const int64_t waitUs =
        (target_ - samplesOf(config_.outputLeadMs)) * 1'000'000 / config_.sampleRate;
    if (nowUs - firstHeldUs_ >= waitUs) state_ = State::Playing;
  }
  if (state_ != State::Playing) {
    std::memset(out, 0, count * sizeof *out);
    if (gapSamples_ > 0) {  // still the stretch that sent the buffer back to prebuffering
      gapSamples_ += count;
      stats_.concealedSamples += count;
    }
    return;
  }
  takeSamples(out, count);
}

void CJitterBuffer::takeSamples(int16_t* out, size_t count) {
  size_t n = 0;
  while (n < count && !queue_.empty()) {
    const int16_t sample = queue_.front();
    // A peak follower with a few milliseconds of decay: quiet means a passage, not one sample
    // near a zero crossing.
    envelope_ = std::max(std::abs(int(sample)), envelope_ - envelope_ / 64);
    ++sinceAdjust_;
    const bool adjust =
        correction_ != 0 && envelope_ < config_.quietLevel && sinceAdjust_ >= config_.adjustSpacing;
    if (adjust && correction_ < 0) {
      queue_.pop_front();
      ++correction_;
      --adjusted_;
      ++stats_.driftDropped;
      sinceAdjust_ = 0;
      continue;
    }
    out[n++] = sample;
    if (adjust) {  // the sample stays at the front and plays once more
      --correction_;
      ++adjusted_;
      ++stats_.driftRepeated;
      sinceAdjust_ = 0;
      continue;
    }
    queue_.pop_front();
  }
  if (n > 0) {
    if (gapSamples_ > 0) {
      stats_.longestGapSamples = std::max(stats_.longestGapSamples, gapSamples_);
      gapSamples_ = 0;
    }
    concealing_ = false;
    concealer_.played(out, n);  // cross-fades out of a concealed stretch
  }
  if (n < count) fillGap(out + n, count - n);
}

void CJitterBuffer::fillGap(int16_t* out, size_t count) {
  if (!concealing_) {
    concealing_ = true;
    ++stats_.underruns;
  }
  concealer_.fill(out, count);
  gapSamples_ += count;
  stats_.concealedSamples += count;
  if (gapSamples_ > static_cast<uint64_t>(samplesOf(config_.rebufferAfterMs))) {
    // The sender paused rather than ran late: whatever comes next is held for the target again.
    state_ = State::Idle;
    correction_ = 0;
  }
}

JitterBufferStats CJitterBuffer::stats() const {
  JitterBufferStats s = stats_;
  s.longestGapSamples = std::max(s.longestGapSamples, gapSamples_);
  s.targetDelayMs = msOf(target_);
  s.heldMs = msOf(static_cast<int64_t>(queue_.size()));
  s.playing = state_ == State::Playing;
  return s;
}
