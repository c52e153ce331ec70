#pragma once
// Holds decoded audio between the network and the sound device, so that blocks arriving late or
// in bursts still play without gaps. Pure logic: the owner passes the time of every call (any
// monotonic clock in microseconds), so the policy runs the same under a simulated clock.
//
// - Playback starts once the first audio has been held about the target delay (120 ms at first).
// - The target adapts between 120 and 250 ms to the arrival jitter measured over the last
//   arrivals; the delay follows it by dropping or repeating single samples in quiet passages,
//   which also absorbs the drift between the sender's clock and the device's.
// - At most 500 ms are held; beyond that the oldest samples are dropped.
// - When the buffer runs dry the gap is concealed (the last pitch period repeated, fading to
//   silence) instead of a click; a gap longer than the rebuffer limit starts afresh with a new
//   prebuffer at the learned target.
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>

#include "audio/concealment.h"

struct JitterBufferConfig {
  int sampleRate = 8000;
  int minDelayMs = 120;  // also the delay playback starts with
  int maxDelayMs = 250;
  int maxHeldMs = 500;
  int marginMs = 40;    // the target stays this far above the measured jitter
  int deadbandMs = 30;  // no correction while the delay is this close to the target
  // Audio the owner keeps queued on the device ahead of what is heard. It counts as delay but
  // can't cover a late block, so the target holds it on top of jitter and margin.
  int outputLeadMs = 0;
  int rebufferAfterMs = 250;  // a gap longer than this restarts with a prebuffer
  int quietLevel = 1024;      // envelope under which a sample may be dropped or repeated
  int adjustSpacing = 16;     // at most one dropped or repeated sample per this many
  size_t jitterWindow = 50;   // arrivals the jitter is measured over
};

struct JitterBufferStats {
  static constexpr int kBinMs = 5;
  static constexpr int kBins = 200;  // 0..995 ms; longer delays fall into the last bin

  uint64_t arrivals = 0;
  uint64_t underruns = 0;          // times the buffer ran dry while playing
  uint64_t concealedSamples = 0;   // samples made up while dry (concealment, then silence)
  uint64_t longestGapSamples = 0;  // the longest single dry stretch
  uint64_t overflowDropped = 0;    // oldest samples dropped beyond the hold limit
  uint64_t driftDropped = 0;       // single samples dropped to shorten the delay
  uint64_t driftRepeated = 0;      // single samples repeated to lengthen it
  int targetDelayMs = 0;
  int jitterMs = 0;
  int delayMs = 0;  // at the last arrival: audio queued ahead of it, lead included
  int heldMs = 0;
  bool playing = false;
  // Delay at each arrival, in kBinMs bins.
  std::array<uint32_t, kBins> delayHistogram{};

  // Median of the delays at arrival, in ms (the middle of its bin); 0 before any arrival.
  int medianDelayMs() const;
};

class CJitterBuffer {
 public:
  explicit CJitterBuffer(const JitterBufferConfig& config = {});
  ~CJitterBuffer();
  CJitterBuffer(const CJitterBuffer&) = delete;
  CJitterBuffer& operator=(const CJitterBuffer&) = delete;

  // One decoded block as it arrives.
  void push(const int16_t* samples, size_t count, int64_t nowUs);
  // count samples for the device; always filled: prebuffer silence, audio, or concealment.
  void pull(int16_t* out, size_t count, int64_t nowUs);
  // Forgets the audio and the arrival history (audio switched off); the learned target and the
  // counters stay.
  void clear();

  // Starts the counters and the delay histogram afresh (measurements over a stretch).
  void clearCounters();

  bool playing() const { return state_ == State::Playing; }
  size_t heldSamples() const { return queue_.size(); }
  int targetDelayMs() const { return msOf(target_); }
  JitterBufferStats stats() const;

 private:
  enum class State { Idle, Buffering, Playing };

  int64_t samplesOf(int ms) const { return int64_t(ms) * config_.sampleRate / 1000; }
  int msOf(int64_t samples) const { return int(samples * 1000 / config_.sampleRate); }
  void measureArrival(int64_t nowUs);
  void takeSamples(int16_t* out, size_t count);
  void fillGap(int16_t* out, size_t count);
  void recordDelay(int64_t delaySamples);

  const JitterBufferConfig config_;
  State state_ = State::Idle;
  std::deque<int16_t> queue_;
  int64_t target_;           // samples
  int64_t correction_ = 0;   // samples still to add (> 0) or remove (< 0)
  int64_t firstHeldUs_ = 0;  // when the audio that ends the prebuffer arrived

  // Arrival timeline: transit = arrival time minus the audio time received before it. It runs
  // on through gaps; only clear starts it afresh.
  int64_t timelineSamples_ = 0;
  std::deque<int64_t> transitUs_;
  // Audio queued ahead of each of the last kDelayWindow arrivals, less adjusted_ at the time;
  // adjusted_ counts samples repeated (+) and dropped (-) since the stream began.
  static constexpr size_t kDelayWindow = 10;
  std::deque<int64_t> reserves_;
  int64_t adjusted_ = 0;

  // Quiet detection and correction pacing.
  int envelope_ = 0;
  int sinceAdjust_ = 0;

  // The current dry stretch (0: not dry).
  uint64_t gapSamples_ = 0;
  bool concealing_ = false;

  CConcealer concealer_;
  JitterBufferStats stats_;
};
