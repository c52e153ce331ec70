#pragma once
// Fills a gap in the audio without a click: the last pitch period heard is repeated with a
// fade to silence over 40 ms, and the first 5 ms after the gap cross-fade from the made-up
// sound into the real one.
#include <array>
#include <cstddef>
#include <cstdint>

class CConcealer {
 public:
  static constexpr size_t kHistory = 256;  // samples of history kept (32 ms at 8 kHz)
  static constexpr size_t kFadeOut = 320;  // 40 ms
  static constexpr size_t kFadeIn = 40;    // 5 ms

  // Real samples about to be played, right after a gap or not; they are cross-faded in place
  // when a gap came just before, then kept as history.
  void played(int16_t* samples, size_t count);
  // count made-up samples for a gap.
  void fill(int16_t* out, size_t count);
  void reset();

 private:
  int16_t historyAt(size_t back) const;  // back = 1: the newest sample
  size_t pitchPeriod() const;
  int16_t next();  // one made-up sample, faded

  std::array<int16_t, kHistory> history_{};
  size_t newest_ = 0;   // index of the next history slot
  size_t filled_ = 0;   // history samples held, up to kHistory
  size_t missing_ = 0;  // made-up samples since the last real one
  size_t period_ = 0;
  size_t phase_ = 0;
};
