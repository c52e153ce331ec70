#include "ui/skin_slider.h"

#include <QTest>

#include <gtest/gtest.h>

#include "platform/messages.h"
#include "skin_test_support.h"
#include "ui/control_id.h"
#include "ui/skin_artwork.h"

namespace {

// The volume slider as the main window sets it up: 20 x 9 track, 6-pixel thumb, 0..65535.
class SkinSlider : public ::testing::Test {
 protected:
  SkinSlider() : slider_(&backdrop_) {
    setControlId(&slider_, 1037);
    slider_.move(20, 20);
    EXPECT_EQ(slider_.setTrackImages(152, 151, true, 0x000000, 0, 0), 1);
    EXPECT_EQ(slider_.setThumbImages(153, 154, false, 0, 0, 0), 1);
    slider_.setRange(0, 65535);
    slider_.setMargins(0, 0, 0, 0);
    slider_.setNotifyWindow(parent_.windowId());
    backdrop_.show();
  }

  // Lets posted messages arrive; true when one came.
  bool messageArrives() {
    return platform::processMessagesUntil([this] { return !parent_.received.empty(); }, 200);
  }

  Backdrop backdrop_;
  CSkinSlider slider_;
  RecordingWindow parent_;
};

TEST_F(SkinSlider, TakesItsGeometryFromTheImages) {
  EXPECT_EQ(slider_.size(), QSize(20, 9));
  EXPECT_EQ(slider_.pos(), QPoint(20, 20));
  EXPECT_EQ(slider_.trackWidth(), 20);
  EXPECT_EQ(slider_.thumbWidth(), 6);
}

TEST_F(SkinSlider, MapsPositionsToThumbCentresAndBack) {
  EXPECT_EQ(slider_.thumbCentreFor(65535), 17);
  EXPECT_EQ(slider_.thumbCentreFor(0), 3);
  EXPECT_EQ(slider_.thumbCentreFor(32767), 10);  // 6.9998 rounded, then + 3
  EXPECT_EQ(slider_.positionFor(17), 65535);
  EXPECT_EQ(slider_.positionFor(3), 0);
  EXPECT_EQ(slider_.positionFor(10), 32767);

  // Every centre on the travel maps to a position that puts the thumb back on it.
  for (int x = 3; x <= 17; ++x) EXPECT_EQ(slider_.thumbCentreFor(slider_.positionFor(x)), x) << x;

  slider_.setMargins(2, 1, 4, 0);  // span 20 - 2 - 6 - 4 = 8
  EXPECT_EQ(slider_.thumbCentreFor(65535), 13);
  EXPECT_EQ(slider_.thumbCentreFor(0), 5);
  EXPECT_EQ(slider_.positionFor(9), 32767);
}

TEST_F(SkinSlider, PositionStaysWithinTheRange) {
  slider_.setPosition(70000);
  EXPECT_EQ(slider_.position(), 65535);
  slider_.setPosition(-1);
  EXPECT_EQ(slider_.position(), 0);
  slider_.setPosition(50000);
  slider_.setRangeMax(1000);
  EXPECT_EQ(slider_.position(), 1000);
  slider_.setRangeMin(2000);
  slider_.setRangeMax(3000);
  EXPECT_EQ(slider_.position(), 2000);
  // A range without a mapping doesn't crash; the thumb rests at the start.
  slider_.setRange(5, 5);
  EXPECT_EQ(slider_.thumbCentre(), 3);
  EXPECT_EQ(slider_.positionFor(12), 5);
}

TEST_F(SkinSlider, APressBesideTheThumbJumpsThereAndTheReleaseReportsIt) {
  QTest::mousePress(&slider_, Qt::LeftButton, {}, {12, 4});
  EXPECT_TRUE(slider_.isDragging());
  EXPECT_EQ(slider_.thumbCentre(), 12);
  EXPECT_EQ(slider_.position(), 42129);  // trunc(9 / 14 * 65535)
  EXPECT_FALSE(messageArrives());        // nothing before the release

  QTest::mouseRelease(&slider_, Qt::LeftButton, {}, {12, 4});
  EXPECT_FALSE(slider_.isDragging());
  ASSERT_TRUE(messageArrives());
  ASSERT_EQ(parent_.received.size(), 1u);
  EXPECT_EQ(parent_.received[0].msg, msg::kVolumeChanged);
  EXPECT_EQ(parent_.received[0].wParam, 1037u);
  EXPECT_EQ(parent_.received[0].lParam, 42129);
}

TEST_F(SkinSlider, DraggingTheThumbKeepsTheGrabPointAndStopsAtTheEnds) {
  QTest::mousePress(&slider_, Qt::LeftButton, {},
                    {5, 4});  // on the thumb (centre 3), 2 to its right
  EXPECT_EQ(slider_.position(), 0);
  QTest::mouseMove(&slider_, {9, 4});
  EXPECT_EQ(slider_.thumbCentre(), 7);
  EXPECT_EQ(slider_.position(), 18724);
  QTest::mouseMove(&slider_, {60, 4});
  EXPECT_EQ(slider_.position(), 65535);
  QTest::mouseMove(&slider_, {-30, 4});
  EXPECT_EQ(slider_.position(), 0);
  QTest::mouseMove(&slider_, {16, 4});
  QTest::mouseRelease(&slider_, Qt::LeftButton, {}, {16, 4});
  ASSERT_TRUE(messageArrives());
  EXPECT_EQ(parent_.received.back().lParam, slider_.position());
  EXPECT_EQ(slider_.thumbCentre(), 14);
}

TEST_F(SkinSlider, DisablingDuringADragEndsItWithoutAReport) {
  QTest::mousePress(&slider_, Qt::LeftButton, {}, {12, 4});
  slider_.setEnabled(false);
  EXPECT_FALSE(slider_.isDragging());
  QTest::mouseRelease(&slider_, Qt::LeftButton, {}, {12, 4});
  QTest::mousePress(&slider_, Qt::LeftButton, {}, {16, 4});  // ignored while disabled
  EXPECT_FALSE(slider_.isDragging());
  EXPECT_FALSE(messageArrives());

  slider_.setEnabled(true);
  QTest::mouseClick(&slider_, Qt::LeftButton, {}, {16, 4});
  ASSERT_TRUE(messageArrives());
  EXPECT_EQ(parent_.received.size(), 1u);
}

TEST_F(SkinSlider, PaintsFilledTrackLeftOfTheThumbAndKeysOutBlack) {
  const QImage track = skin::bitmap(152);
  const QImage filled = skin::bitmap(151);
  const QPoint groove(10, 4);
  slider_.setPosition(65535);  // thumb centre 17: x = 10 lies left of it
  EXPECT_EQ(backdrop_.pixelOf(slider_, groove), QColor(filled.pixel(groove)));
  slider_.setPosition(0);  // thumb centre 3
  EXPECT_EQ(backdrop_.pixelOf(slider_, groove), QColor(track.pixel(groove)));
  EXPECT_EQ(backdrop_.pixelOf(slider_, {10, 0}), Backdrop::kColour);  // black key: not drawn

  // The thumb sits at centre - 3, and shows the dragged image while dragging.
  const QImage thumb = skin::bitmap(153);
  const QImage dragged = skin::bitmap(154);
  EXPECT_EQ(backdrop_.pixelOf(slider_, {3, 4}), QColor(thumb.pixel(3, 4)));
  QTest::mousePress(&slider_, Qt::LeftButton, {}, {4, 4});
  EXPECT_EQ(backdrop_.pixelOf(slider_, {3, 4}), QColor(dragged.pixel(3, 4)));
  QTest::mouseRelease(&slider_, Qt::LeftButton, {}, {4, 4});
}

TEST_F(SkinSlider, KeyColourCanComeFromAPixelAndMissingImagesAreRefused) {
  QImage track = solidImage({20, 9}, QColor(10, 20, 30));
  EXPECT_EQ(slider_.setTrackImages(track, QImage(), true, CSkinSlider::kKeyFromPixel, 0, 0), 1);
  EXPECT_EQ(backdrop_.pixelOf(slider_, {12, 1}), Backdrop::kColour);
  track.setPixel(15, 5, qRgb(1, 2, 3));
  EXPECT_EQ(slider_.setTrackImages(track, QImage(), true, CSkinSlider::kKeyFromPixel, 0, 0), 1);
  EXPECT_EQ(backdrop_.pixelOf(slider_, {15, 5}), QColor(1, 2, 3));

  EXPECT_EQ(slider_.setTrackImages(152, 163, true, 0, 0, 0), 0);
  EXPECT_EQ(slider_.setThumbImages(148, 0, false, 0, 0, 0), 0);
}

}  // namespace
