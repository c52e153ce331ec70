#include "ui/hover_button.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "skin_test_support.h"
#include "ui/skin_artwork.h"

namespace {

const QColor kA(200, 0, 0), kB(0, 200, 0), kC(0, 0, 200), kD(200, 200, 0);

class HoverButton : public ::testing::Test {
 protected:
  HoverButton() : button_(&backdrop_) {
    button_.move(10, 10);
    backdrop_.show();
  }
  void setAllImages() {
    button_.setImages(solidImage({12, 8}, kA), solidImage({12, 8}, kB), solidImage({12, 8}, kC),
                      solidImage({12, 8}, kD));
  }
  QColor shown() { return backdrop_.pixelOf(button_, {4, 4}); }

  Backdrop backdrop_;
  CHoverButton button_;
};

TEST_F(HoverButton, HasItsRunTimeClassName) {
  EXPECT_STREQ(button_.metaObject()->className(), "CHoverButton");
}

TEST_F(HoverButton, ANonLatchingButtonReturnsToStateZeroAndImageA) {
  setAllImages();
  QSignalSpy clicks(&button_, &QAbstractButton::clicked);
  QTest::mousePress(&button_, Qt::LeftButton, {}, {4, 4});
  EXPECT_EQ(button_.state(), 1);
  EXPECT_EQ(shown(), kB);
  QTest::mouseRelease(&button_, Qt::LeftButton, {}, {4, 4});
  EXPECT_EQ(button_.state(), 0);
  EXPECT_EQ(shown(), kA);
  EXPECT_EQ(clicks.count(), 1);
}

TEST_F(HoverButton, ALatchingButtonRestsInStateTwoShowingImageC) {
  setAllImages();
  button_.setLatching(true);
  QSignalSpy clicks(&button_, &QAbstractButton::clicked);
  QTest::mouseClick(&button_, Qt::LeftButton, {}, {4, 4});
  EXPECT_EQ(button_.state(), 2);
  EXPECT_EQ(shown(), kC);
  EXPECT_EQ(clicks.count(), 1);
  button_.setState(3);
  EXPECT_EQ(shown(), kD);
}

TEST_F(HoverButton, WithoutImageANothingIsDrawnUnlessHeldDown) {
  button_.resize(12, 8);
  button_.setImages(QImage(), solidImage({12, 8}, kB), solidImage({12, 8}, kC),
                    solidImage({12, 8}, kD));
  for (int state = 0; state < 4; ++state) {
    button_.setState(state);
    EXPECT_EQ(button_.imageToDraw(), -1);
    EXPECT_EQ(shown(), Backdrop::kColour) << "state " << state;
  }
  button_.setDown(true);
  EXPECT_EQ(shown(), kB);
}

TEST_F(HoverButton, AStateWithoutItsImageDrawsNothing) {
  button_.setImages(solidImage({12, 8}, kA), solidImage({12, 8}, kB), solidImage({12, 8}, kC));
  button_.setState(3);
  EXPECT_EQ(shown(), Backdrop::kColour);
  button_.setState(2);
  EXPECT_EQ(shown(), kC);
}

TEST_F(HoverButton, AReleaseOnAButtonTheOwnerDidNotSeePressedIsSwallowed) {
  setAllImages();
  button_.setLatching(true);
  CHoverButton other;
  const CHoverButton* pressed = &other;
  button_.setPressedButtonQuery([&pressed] { return pressed; });
  QSignalSpy clicks(&button_, &QAbstractButton::clicked);

  QTest::mouseClick(&button_, Qt::LeftButton, {}, {4, 4});
  EXPECT_EQ(clicks.count(), 0);
  EXPECT_EQ(button_.state(), 1);
  EXPECT_FALSE(button_.isDown());  // not left painted as held down

  // The owner sees the pen lifted elsewhere: the button rests, still without a click.
  button_.notifyReleased();
  EXPECT_EQ(button_.state(), 2);
  EXPECT_EQ(clicks.count(), 0);

  pressed = &button_;
  QTest::mouseClick(&button_, Qt::LeftButton, {}, {4, 4});
  EXPECT_EQ(clicks.count(), 1);
  EXPECT_EQ(button_.state(), 2);
}

TEST_F(HoverButton, LoadImagesTakesTheSkinImagesAndTheNormalImagesSize) {
  button_.setGeometry(13, 3, 40, 40);
  EXPECT_TRUE(button_.loadImages(139, 140, 140, 0));
  EXPECT_EQ(button_.geometry(), QRect(13, 3, 23, 9));
  EXPECT_EQ(backdrop_.pixelOf(button_, {11, 4}), QColor(skin::bitmap(139).pixel(11, 4)));
  EXPECT_TRUE(button_.loadImages(199, 207, 223, 215));
  EXPECT_EQ(button_.size(), QSize(13, 19));
  EXPECT_FALSE(button_.loadImages(139, 140, 140, 163));  // 163 has no image
}

}  // namespace
