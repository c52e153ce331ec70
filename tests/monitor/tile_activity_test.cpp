#include "monitor/tile_activity.h"

#include <gtest/gtest.h>

namespace {
using namespace std::chrono_literals;
using Clock = CTileActivity::Clock;

TEST(TileActivity, NoVideoThenPicturesThenStale) {
  CTileActivity activity;
  const Clock::time_point start = Clock::now();
  activity.restart(start);
  EXPECT_EQ(activity.stateText(start + 1999ms), QString());
  EXPECT_EQ(activity.stateText(start + 2s), QStringLiteral("No video"));
  activity.picture(start + 3s);
  EXPECT_EQ(activity.stateText(start + 4s), QString());
  EXPECT_EQ(activity.stateText(start + 5s), QStringLiteral("Stale"));
  // A new channel on the tile starts over: its own pictures have not had their 2 s yet.
  activity.restart(start + 5s);
  EXPECT_EQ(activity.stateText(start + 6s), QString());
  activity.setUnavailable(true);
  EXPECT_EQ(activity.stateText(start + 6s), QStringLiteral("Not available"));
}

TEST(TileActivity, FramesPerSecondCountsTheLastSecondOnly) {
  CTileActivity activity;
  const Clock::time_point start = Clock::now();
  activity.restart(start);
  for (int i = 0; i < 25; ++i) activity.picture(start + i * 40ms);  // 25 fps for a second
  EXPECT_EQ(activity.framesPerSecond(start + 999ms), 25);
  EXPECT_EQ(activity.framesPerSecond(start + 1500ms), 12);
  EXPECT_EQ(activity.framesPerSecond(start + 3s), 0);
}
}  // namespace
