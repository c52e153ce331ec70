#include "monitor/tile_geometry.h"

#include <gtest/gtest.h>

namespace {

TEST(TileGeometry, PictureIsCentredWithItsAspectRatio) {
  // Wide tile: bars left and right.
  EXPECT_EQ(letterboxRect({704, 480}, {320, 180}), QRect(28, 0, 264, 180));
  // Square tile: bars above and below, height rounded to the nearest pixel.
  EXPECT_EQ(letterboxRect({704, 480}, {300, 300}), QRect(0, 47, 300, 205));
  // Same aspect ratio: the whole tile.
  EXPECT_EQ(letterboxRect({704, 480}, {352, 240}), QRect(0, 0, 352, 240));
  // A sliver still gets a pixel; nothing for empty sizes.
  EXPECT_EQ(letterboxRect({1, 5000}, {100, 100}), QRect(49, 0, 1, 100));
  EXPECT_TRUE(letterboxRect({}, {100, 100}).isEmpty());
  EXPECT_TRUE(letterboxRect({704, 480}, {0, 100}).isEmpty());
}

TEST(TileGeometry, ScaleIsTheSmallestThatStillCoversTheTarget) {
  const QSize source(704, 480);
  EXPECT_EQ(jpegScaleDenominator(source, {88, 60}), 8);
  EXPECT_EQ(jpegScaleDenominator(source, {89, 60}), 4);
  EXPECT_EQ(jpegScaleDenominator(source, {88, 61}), 4);
  EXPECT_EQ(jpegScaleDenominator(source, {264, 180}), 2);
  EXPECT_EQ(jpegScaleDenominator(source, {352, 240}), 2);
  EXPECT_EQ(jpegScaleDenominator(source, {353, 240}), 1);
  EXPECT_EQ(jpegScaleDenominator(source, {1920, 1080}), 1);
  // Odd sizes round up, as the decoder's reduced pictures do.
  EXPECT_EQ(jpegScaleDenominator({705, 481}, {89, 61}), 8);
  EXPECT_EQ(jpegScaleDenominator({}, {10, 10}), 1);
}

}  // namespace
