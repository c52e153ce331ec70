#include "monitor/tile_activity.h"

namespace {
constexpr std::chrono::seconds kRateWindow{1};
}

void CTileActivity::restart(Clock::time_point now) {
  since_ = now;
  last_ = {};
  pictures_ = 0;
  recent_.clear();
}

void CTileActivity::picture(Clock::time_point now) {
  last_ = now;
  ++pictures_;
  recent_.push_back(now);
  while (!recent_.empty() && now - recent_.front() >= kRateWindow) recent_.pop_front();
}

QString CTileActivity::stateText(Clock::time_point now) const {
  if (unavailable_) return QStringLiteral("Not available");
  if (pictures_ == 0) return now - since_ >= kStaleAfter ? QStringLiteral("No video") : QString();
  return now - last_ >= kStaleAfter ? QStringLiteral("Stale") : QString();
}

int CTileActivity::framesPerSecond(Clock::time_point now) const {
  int count = 0;
  for (const Clock::time_point& at : recent_) {
    if (now - at < kRateWindow && at <= now) ++count;
  }
  return count;
}
