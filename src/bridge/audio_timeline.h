#pragma once
// Where the samples of one RTSP audio stream go on its timeline (8 kHz, counted from the stream's
// start). The timeline never has a hole or an overlap: real audio is laid end to end, and while
// none comes (the DVR sends audio for one channel at a time, or paused) silence fills it up to a
// little behind the clock, so a recorder reading the stream never stalls. Pure logic, the clock is
// passed in; the caller serialises the calls.
#include <cstdint>
#include <optional>

class CAudioTimeline {
 public:
  static constexpr int64_t kRate = 8000;
  // A gap this long without real audio is filled with silence...
  static constexpr int64_t kGapSamples = kRate / 2;
  // ...up to this far behind the clock, which leaves room for the next real block.
  static constexpr int64_t kBehindSamples = kRate / 4;
  // Real audio that would put the timeline further ahead of the clock than this is dropped, so
  // the delay stays bounded when the DVR sends faster than real time.
  static constexpr int64_t kMaxAheadSamples = kRate;

  // A span of time (ns) in samples, and a position as time. One sample is a whole number of
  // nanoseconds, so neither needs a product that overflows on a stream that runs for weeks.
  static constexpr int64_t kNsPerSample = 1'000'000'000 / kRate;
  static_assert(1'000'000'000 % kRate == 0);
  static constexpr int64_t samplesIn(int64_t nanoseconds) { return nanoseconds / kNsPerSample; }
  static constexpr int64_t nanosecondsAt(int64_t position) { return position * kNsPerSample; }

  struct Span {
    int64_t start = 0;  // first sample's position
    int64_t count = 0;  // 0: nothing to add
  };

  // The silence to add now (now: the clock in samples since the stream's start).
  Span fill(int64_t now);
  // Where count real samples that came at now go; nullopt when they are dropped. Call fill()
  // first, so real audio after a long gap starts near the clock.
  std::optional<int64_t> place(int64_t now, int64_t count);
  int64_t end() const { return next_; }
  uint64_t droppedSamples() const { return dropped_; }

 private:
  int64_t next_ = 0;
  uint64_t dropped_ = 0;
};
