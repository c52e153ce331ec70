#include "monitor/grid_layout.h"

#include <gtest/gtest.h>

#include <QRegion>

namespace {
const GridLayout kAll[] = {GridLayout::One,     GridLayout::Four,        GridLayout::Nine,
                           GridLayout::Sixteen, GridLayout::OnePlusFive, GridLayout::OnePlusSeven};

// Tiles cover the area exactly once, at sizes that don't divide evenly too.
TEST(GridLayout, TilesCoverTheAreaWithoutGapsOrOverlaps) {
  for (GridLayout layout : kAll) {
    for (QSize area : {QSize(1280, 720), QSize(1001, 667), QSize(7, 5)}) {
      const std::vector<QRect> rects = gridTileRects(layout, area);
      ASSERT_EQ(static_cast<int>(rects.size()), gridTileCount(layout));
      QRegion covered;
      long long sum = 0;
      for (const QRect& rect : rects) {
        EXPECT_FALSE(covered.intersects(rect)) << gridLayoutName(layout);
        covered += rect;
        sum += static_cast<long long>(rect.width()) * rect.height();
      }
      EXPECT_EQ(covered, QRegion(QRect(QPoint(0, 0), area))) << gridLayoutName(layout);
      EXPECT_EQ(sum, static_cast<long long>(area.width()) * area.height());
    }
  }
}

TEST(GridLayout, BigTileComesFirstAndSpansTheGrid) {
  const auto five = gridTileRects(GridLayout::OnePlusFive, QSize(900, 600));
  ASSERT_EQ(five.size(), 6u);
  EXPECT_EQ(five[0], QRect(0, 0, 600, 400));  // 2x2 cells of a 3x3 grid
  EXPECT_EQ(five[1], QRect(600, 0, 300, 200));
  EXPECT_EQ(five[5], QRect(600, 400, 300, 200));  // the bottom right corner comes last
  const auto seven = gridTileRects(GridLayout::OnePlusSeven, QSize(800, 800));
  ASSERT_EQ(seven.size(), 8u);
  EXPECT_EQ(seven[0], QRect(0, 0, 600, 600));
  EXPECT_EQ(seven[4], QRect(0, 600, 200, 200));
}

TEST(GridLayout, NamesRoundTripAndOthersAreRefused) {
  for (GridLayout layout : kAll) EXPECT_EQ(parseGridLayout(gridLayoutName(layout)), layout);
  for (const char* bad : {"", "2", "1+6", "16 ", "+5", "04"})
    EXPECT_FALSE(parseGridLayout(bad)) << bad;
  // Cycling visits every layout once.
  GridLayout layout = GridLayout::One;
  for (int i = 0; i < 6; ++i) layout = nextGridLayout(layout);
  EXPECT_EQ(layout, GridLayout::One);
}
}  // namespace
