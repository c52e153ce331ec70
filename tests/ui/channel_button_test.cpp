#include "ui/channel_button.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "skin_test_support.h"

namespace {

class ChannelButton : public ::testing::Test {
 protected:
  ChannelButton() : button_(&backdrop_) {
    QFont big = button_.font();
    big.setPixelSize(22);
    big.setBold(true);
    button_.setFont(big);
    button_.setGeometry(10, 10, 40, 30);
    button_.setCaption("1");
    backdrop_.show();
  }
  QImage rendered() { return backdrop_.grab().toImage().copy(button_.geometry()); }
  // The caption is drawn smoothed; its solid strokes carry the exact colour.
  bool captionHas(QColor colour) {
    const QImage image = rendered();
    for (int y = 3; y < image.height() - 3; ++y)
      for (int x = 3; x < image.width() - 3; ++x)
        if (QColor(image.pixel(x, y)) == colour) return true;
    return false;
  }
  QColor frame() { return QColor(rendered().pixel(0, 0)); }
  QColor innerFrame() { return QColor(rendered().pixel(1, 15)); }
  QColor fill() { return QColor(rendered().pixel(3, 3)); }

  Backdrop backdrop_;
  CChannelButton button_;
};

TEST_F(ChannelButton, StartsWithTheDefaultColourValues) {
  EXPECT_EQ(button_.frameNormal(), 0xFFFFFF);
  EXPECT_EQ(button_.framePressed(), 0xFFFFFF);
  EXPECT_EQ(button_.frameDisabled(), 0xFFFFFF);
  EXPECT_EQ(button_.fill(), 0xFFFFFF);
  EXPECT_EQ(button_.textNormal(), 0x000000);
  EXPECT_EQ(button_.textPressed(), 0x682700);
  EXPECT_EQ(button_.textActive(), 0x682700);
  EXPECT_EQ(button_.textDisabled(), 0x8C8C8C);
  EXPECT_EQ(button_.state(), 0);
}

TEST_F(ChannelButton, CaptionColourFollowsTheStateInsideAWhiteFrame) {
  button_.setState(3);
  EXPECT_EQ(frame(), QColor(Qt::white));
  EXPECT_EQ(fill(), QColor(Qt::white));
  EXPECT_TRUE(captionHas(QColor(140, 140, 140)));
  EXPECT_FALSE(captionHas(QColor(0, 0, 0)));

  button_.setState(1);
  EXPECT_TRUE(captionHas(QColor(0, 39, 104)));
  EXPECT_FALSE(captionHas(QColor(140, 140, 140)));

  button_.setState(0);
  EXPECT_TRUE(captionHas(QColor(0, 0, 0)));
}

TEST_F(ChannelButton, FrameColoursByStateDisabledAndHeldDown) {
  button_.setFrameColors(rgbColour(255, 0, 0), rgbColour(0, 255, 0), rgbColour(0, 0, 255),
                         rgbColour(9, 9, 9), rgbColour(250, 250, 0));
  EXPECT_EQ(frame(), QColor(255, 0, 0));
  EXPECT_EQ(innerFrame(), QColor(255, 0, 0));  // two pixels wide
  EXPECT_EQ(fill(), QColor(250, 250, 0));
  button_.setState(1);
  EXPECT_EQ(frame(), QColor(0, 0, 255));
  button_.setState(2);
  EXPECT_EQ(frame(), QColor(0, 255, 0));
  button_.setDown(true);
  button_.setState(0);
  EXPECT_EQ(frame(), QColor(0, 255, 0));  // held down with a pressed frame set
  button_.setDown(false);

  button_.setEnabled(false);
  EXPECT_EQ(frame(), QColor(9, 9, 9));  // disabled wins over the state
  button_.setEnabled(true);
  EXPECT_EQ(frame(), QColor(255, 0, 0));

  // Held down without a pressed frame: the state decides.
  button_.setFrameColors(rgbColour(255, 0, 0), kUnsetColour, rgbColour(0, 0, 255),
                         rgbColour(9, 9, 9), rgbColour(250, 250, 0));
  button_.setDown(true);
  EXPECT_EQ(frame(), QColor(255, 0, 0));
}

TEST_F(ChannelButton, PressAndReleaseSetTheStateAndClick) {
  QSignalSpy clicks(&button_, &QAbstractButton::clicked);
  button_.setState(3);
  QTest::mousePress(&button_, Qt::LeftButton, {}, {5, 5});
  EXPECT_EQ(button_.state(), 1);
  QTest::mouseRelease(&button_, Qt::LeftButton, {}, {5, 5});
  EXPECT_EQ(button_.state(), 0);
  EXPECT_EQ(clicks.count(), 1);
}

TEST_F(ChannelButton, AnEmptyCaptionIsIgnored) {
  button_.setCaption("");
  EXPECT_EQ(button_.caption(), "1");
  button_.setCaption("16");
  EXPECT_EQ(button_.caption(), "16");
}

}  // namespace
