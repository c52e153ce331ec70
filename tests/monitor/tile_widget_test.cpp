// What a tile paints: the focus frame around the picture, the picture itself pixel for pixel,
// black where there is none, and each new picture reported once, at its first paint.
#include "monitor/tile_widget.h"

#include <gtest/gtest.h>

#include <QImage>

#include <vector>

namespace {

QImage filled(QSize size, QRgb colour) {
  QImage image(size, QImage::Format_RGB32);
  image.fill(colour);
  return image;
}

// Pixels of image inside rect that are not colour.
int unlike(const QImage& image, QRect rect, QRgb colour) {
  int count = 0;
  for (int y = rect.top(); y <= rect.bottom(); ++y)
    for (int x = rect.left(); x <= rect.right(); ++x)
      if ((image.pixel(x, y) & 0xFFFFFF) != (colour & 0xFFFFFF)) ++count;
  return count;
}

TEST(TileWidget, PaintsTheFrameAroundThePictureAndThePictureAsItIs) {
  CTileWidget tile(0, nullptr);
  tile.resize(120, 90);
  const QRect area = tile.pictureRect();
  ASSERT_EQ(area, QRect(2, 2, 116, 86));
  QImage picture = filled(area.size(), qRgb(10, 200, 30));
  picture.setPixel(0, 0, qRgb(255, 0, 255));  // the corners land on the area's corners
  picture.setPixel(115, 85, qRgb(0, 255, 255));
  tile.setPicture(picture);

  for (bool focused : {true, false}) {
    SCOPED_TRACE(focused);
    tile.setFocused(focused);
    const QImage shown = tile.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), QSize(120, 90));
    const QRgb frame = focused ? CTileWidget::kFocusColour : qRgb(24, 24, 24);
    // Every pixel outside the picture's area is the frame's, every pixel inside the picture's
    // (the channel's name is drawn only for a tile with a channel).
    int wrong = 0;
    for (int y = 0; y < 90; ++y) {
      for (int x = 0; x < 120; ++x) {
        const QRgb expected = area.contains(x, y) ? picture.pixel(x - 2, y - 2) : frame;
        if ((shown.pixel(x, y) & 0xFFFFFF) != (expected & 0xFFFFFF)) ++wrong;
      }
    }
    EXPECT_EQ(wrong, 0);
  }

  // No picture: black inside the frame. A picture of another size (the tile was resized): its
  // shape kept, black around it.
  tile.clearPicture();
  QImage shown = tile.grab().toImage();
  EXPECT_EQ(unlike(shown, area, qRgb(0, 0, 0)), 0);
  tile.setPicture(filled({58, 20}, qRgb(250, 250, 250)));
  shown = tile.grab().toImage();
  EXPECT_EQ(unlike(shown, QRect(2, 2, 116, 8), qRgb(0, 0, 0)), 0);  // above the picture
  EXPECT_EQ(unlike(shown, QRect(2, 40, 116, 10), qRgb(250, 250, 250)), 0);
}

TEST(TileWidget, EachPictureIsReportedOnceAtItsFirstPaintAndUnpaintedOnesAreCounted) {
  std::vector<CTileWidget::Shown> reports;
  const CTileWidget::ShownObserver observer = [&](const CTileWidget::Shown& shown) {
    reports.push_back(shown);
  };
  CTileWidget tile(3, nullptr);
  tile.resize(64, 48);
  tile.setChannel(5);
  tile.setShownObserver(&observer);
  const QImage picture = filled(tile.pictureRect().size(), qRgb(1, 2, 3));
  const auto arrival = std::chrono::steady_clock::now();

  tile.setPicture(picture, 7, arrival);
  tile.setPicture(picture, 8, arrival);  // replaced before any paint
  tile.grab();
  tile.grab();  // a repaint is no new picture
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].tile, 3);
  EXPECT_EQ(reports[0].channel, 5);
  EXPECT_EQ(reports[0].sequence, 8u);
  EXPECT_EQ(reports[0].arrival, arrival);
  EXPECT_EQ(tile.unpaintedPictures(), 1u);

  tile.setPicture(picture, 9, arrival);
  tile.setChannel(6);  // a new channel drops the picture: not painted, but not lost either
  tile.grab();
  EXPECT_EQ(reports.size(), 1u);
  EXPECT_EQ(tile.unpaintedPictures(), 1u);
  tile.setPicture(picture, 1, arrival);
  tile.grab();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[1].channel, 6);
}

}  // namespace
