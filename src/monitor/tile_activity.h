#pragma once
// What a tile says about its channel besides the picture: whether pictures come, have stopped,
// or can't come at all, and how many came in the last second.
//
// UI thread only.
#include <QString>

#include <chrono>
#include <deque>

class CTileActivity {
 public:
  using Clock = std::chrono::steady_clock;
  // No picture for this long makes a tile "No video" (none yet) or "Stale" (they stopped).
  static constexpr std::chrono::milliseconds kStaleAfter{2000};

  // The tile waits for pictures of a (new) channel from now on: earlier ones don't count.
  void restart(Clock::time_point now);
  void picture(Clock::time_point now);
  // The DVR refused or masks the channel.
  void setUnavailable(bool unavailable) { unavailable_ = unavailable; }
  bool unavailable() const { return unavailable_; }
  bool hasPicture() const { return pictures_ > 0; }

  // "Not available", "No video", "Stale" or empty (pictures come).
  QString stateText(Clock::time_point now) const;
  // Pictures in the second before now.
  int framesPerSecond(Clock::time_point now) const;

 private:
  Clock::time_point since_{};
  Clock::time_point last_{};
  unsigned long long pictures_ = 0;
  bool unavailable_ = false;
  std::deque<Clock::time_point> recent_;  // the last second's pictures
};
