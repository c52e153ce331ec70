#include "ui/skin_artwork.h"

#include <gtest/gtest.h>

#include <set>

namespace {

QSize sizeOf(int id) {
  return skin::bitmap(id).size();
}

// Each control's images fit the rectangle the main window gives it.
TEST(SkinArtwork, EveryImageHasTheSizeOfItsControl) {
  EXPECT_EQ(sizeOf(skin::kBackground), QSize(240, 268));
  for (int id : {137, 138, 139, 140}) EXPECT_EQ(sizeOf(id), QSize(23, 9)) << id;
  for (int id : {142, 143}) EXPECT_EQ(sizeOf(id), QSize(31, 9)) << id;
  for (int id : {144, 145, 146, 147}) EXPECT_EQ(sizeOf(id), QSize(11, 9)) << id;
  EXPECT_EQ(sizeOf(150), QSize(6, 4));
  EXPECT_EQ(sizeOf(151), QSize(20, 9));
  EXPECT_EQ(sizeOf(152), QSize(20, 9));
  EXPECT_EQ(sizeOf(153), QSize(6, 9));
  EXPECT_EQ(sizeOf(154), QSize(6, 9));
  for (int first : {155, 159, 191, 195})
    for (int id = first; id < first + 4; ++id) EXPECT_EQ(sizeOf(id), QSize(28, 40)) << id;
  for (int first : {164, 179})
    for (int id = first; id < first + 4; ++id) EXPECT_EQ(sizeOf(id), QSize(13, 9)) << id;
  for (int first : {170, 175})
    for (int id = first; id < first + 4; ++id) EXPECT_EQ(sizeOf(id), QSize(9, 13)) << id;
  for (int id = 199; id <= 230; ++id) EXPECT_EQ(sizeOf(id), QSize(13, 19)) << id;
  EXPECT_TRUE(skin::bitmap(163).isNull());
  EXPECT_EQ(skin::bitmapIds().size(), 80u);
}

TEST(SkinArtwork, TheStatesOfAButtonLookDifferent) {
  for (int first : {155, 159, 164, 170, 175, 179, 191, 195}) {
    std::set<qint64> looks;
    for (int id = first; id < first + 4; ++id) looks.insert(skin::bitmap(id).cacheKey());
    EXPECT_EQ(looks.size(), 4u);
    for (int a = first; a < first + 4; ++a)
      for (int b = a + 1; b < first + 4; ++b)
        EXPECT_NE(skin::bitmap(a), skin::bitmap(b)) << a << " " << b;
  }
  for (int k = 0; k < 8; ++k) {
    EXPECT_NE(skin::bitmap(199 + k), skin::bitmap(223 + k));      // normal and latched
    EXPECT_NE(skin::bitmap(199 + k), skin::bitmap(200 + k % 7));  // presets differ by digit
  }
}

TEST(SkinArtwork, TheTracksAreBlackAroundTheirGrooveOnly) {
  for (int id : {151, 152}) {
    const QImage track = skin::bitmap(id);
    EXPECT_EQ(track.pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_NE(track.pixel(10, 4), qRgb(0, 0, 0));
  }
  EXPECT_NE(skin::bitmap(151).pixel(10, 4), skin::bitmap(152).pixel(10, 4));
}

}  // namespace
