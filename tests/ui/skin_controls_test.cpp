// The skin controls and their artwork: states, pixels drawn and mouse handling.
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <vector>

#include "platform/message_window.h"
#include "platform/messages.h"
#include "ui/channel_button.h"
#include "ui/control_id.h"
#include "ui/hover_button.h"
#include "ui/skin_artwork.h"
#include "ui/skin_slider.h"

namespace {

inline QImage solidImage(QSize size, QColor colour) {
  QImage image(size, QImage::Format_RGB32);
  image.fill(colour);
  return image;
}

// A parent whose own pixels are magenta, so what a control leaves undrawn shows as magenta.
class Backdrop : public QWidget {
 public:
  static inline const QColor kColour{255, 0, 255};
  Backdrop() {
    setAutoFillBackground(true);
    QPalette palette;
    palette.setColor(QPalette::Window, kColour);
    setPalette(palette);
    resize(100, 60);
  }
  // The colour on screen at a point of a child control.
  QColor pixelOf(const QWidget& child, QPoint at) {
    return QColor(grab().toImage().pixel(child.mapTo(this, at)));
  }
};

class RecordingWindow final : public CMessageWindow {
 public:
  struct Received {
    uint32_t msg;
    uintptr_t wParam;
    intptr_t lParam;
  };
  int onMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
    received.push_back({msg, wParam, lParam});
    return 0;
  }
  std::vector<Received> received;  // UI thread only
};

const QColor kA(200, 0, 0), kB(0, 200, 0), kC(0, 0, 200), kD(200, 200, 0);

class HoverButton : public ::testing::Test {
 protected:
  HoverButton() : button_(&backdrop_) {
    button_.move(10, 10);
    backdrop_.show();
  }
  // Images A..D in solid colours; a null colour leaves that image out.
  void setImages(QColor a, QColor b, QColor c, QColor d = {}) {
    const auto image = [](QColor colour) {
      return colour.isValid() ? solidImage({12, 8}, colour) : QImage();
    };
    button_.setImages(image(a), image(b), image(c), image(d));
  }
  QColor shown() { return backdrop_.pixelOf(button_, {4, 4}); }

  Backdrop backdrop_;
  CHoverButton button_;
};

TEST_F(HoverButton, ReleaseReturnsToStateZeroOrLatchesInStateTwo) {
  EXPECT_STREQ(button_.metaObject()->className(), "CHoverButton");
  setImages(kA, kB, kC, kD);
  for (const bool latching : {false, true}) {
    SCOPED_TRACE(latching ? "latching" : "non-latching");
    button_.setState(0);
    button_.setLatching(latching);
    QSignalSpy clicks(&button_, &QAbstractButton::clicked);
    QTest::mousePress(&button_, Qt::LeftButton, {}, {4, 4});
    EXPECT_EQ(button_.state(), 1);
    EXPECT_EQ(shown(), kB);
    QTest::mouseRelease(&button_, Qt::LeftButton, {}, {4, 4});
    EXPECT_EQ(button_.state(), latching ? 2 : 0);
    EXPECT_EQ(shown(), latching ? kC : kA);
    EXPECT_EQ(clicks.count(), 1);
  }
  button_.setState(3);
  EXPECT_EQ(shown(), kD);
}

TEST_F(HoverButton, WithoutImageANothingIsDrawnUnlessHeldDownAndAMissingImageDrawsNothing) {
  button_.resize(12, 8);
  setImages({}, kB, kC, kD);
  for (int state = 0; state < 4; ++state) {
    button_.setState(state);
    EXPECT_EQ(button_.imageToDraw(), -1);
    EXPECT_EQ(shown(), Backdrop::kColour) << "state " << state;
  }
  button_.setDown(true);
  EXPECT_EQ(shown(), kB);
  button_.setDown(false);

  setImages(kA, kB, kC);
  button_.setState(3);
  EXPECT_EQ(shown(), Backdrop::kColour);
  button_.setState(2);
  EXPECT_EQ(shown(), kC);
}

TEST_F(HoverButton, AReleaseOnAButtonTheOwnerDidNotSeePressedIsSwallowed) {
  setImages(kA, kB, kC, kD);
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
  QColor at(int x, int y) { return backdrop_.pixelOf(button_, {x, y}); }
  // The caption is drawn smoothed; its solid strokes carry the exact colour.
  bool captionHas(QColor colour) {
    const QImage image = backdrop_.grab().toImage().copy(button_.geometry());
    for (int y = 3; y < image.height() - 3; ++y)
      for (int x = 3; x < image.width() - 3; ++x)
        if (QColor(image.pixel(x, y)) == colour) return true;
    return false;
  }

  Backdrop backdrop_;
  CChannelButton button_;
};

TEST_F(ChannelButton, CaptionColourFollowsTheStateInsideAWhiteFrame) {
  EXPECT_EQ(button_.state(), 0);
  EXPECT_EQ(button_.textPressed(), 0x682700);
  EXPECT_EQ(button_.textActive(), 0x682700);
  const QColor black(0, 0, 0), blue(0, 39, 104), grey(140, 140, 140);
  const struct {
    int state;
    QColor caption;
  } cases[] = {{3, grey}, {1, blue}, {2, blue}, {0, black}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.state);
    button_.setState(c.state);
    EXPECT_EQ(at(0, 0), QColor(Qt::white));
    EXPECT_EQ(at(3, 3), QColor(Qt::white));
    for (const QColor& colour : {black, blue, grey})
      EXPECT_EQ(captionHas(colour), colour == c.caption) << colour.name().toStdString();
  }
}

TEST_F(ChannelButton, FrameColoursByStateDisabledAndHeldDown) {
  const QColor normal(255, 0, 0), pressed(0, 255, 0), active(0, 0, 255), disabled(9, 9, 9);
  button_.setFrameColors(rgbColour(255, 0, 0), rgbColour(0, 255, 0), rgbColour(0, 0, 255),
                         rgbColour(9, 9, 9), rgbColour(250, 250, 0));
  EXPECT_EQ(at(1, 15), normal);  // two pixels wide
  EXPECT_EQ(at(3, 3), QColor(250, 250, 0));
  const struct {
    int state;
    bool down, enabled;
    QColor frame;
  } cases[] = {{0, false, true, normal},   {1, false, true, active}, {2, false, true, pressed},
               {3, false, true, disabled}, {0, true, true, pressed}, {1, false, false, disabled}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.state << " down " << c.down << " enabled " << c.enabled);
    button_.setState(c.state);
    button_.setDown(c.down);
    button_.setEnabled(c.enabled);
    EXPECT_EQ(at(0, 0), c.frame);
  }
  // Held down without a pressed frame: the state decides.
  button_.setFrameColors(rgbColour(255, 0, 0), kUnsetColour, rgbColour(0, 0, 255),
                         rgbColour(9, 9, 9), rgbColour(250, 250, 0));
  button_.setEnabled(true);
  button_.setDown(true);
  button_.setState(0);
  EXPECT_EQ(at(0, 0), normal);
}

TEST_F(ChannelButton, PressAndReleaseSetTheStateAndClickAndAnEmptyCaptionIsIgnored) {
  QSignalSpy clicks(&button_, &QAbstractButton::clicked);
  button_.setState(3);
  QTest::mousePress(&button_, Qt::LeftButton, {}, {5, 5});
  EXPECT_EQ(button_.state(), 1);
  QTest::mouseRelease(&button_, Qt::LeftButton, {}, {5, 5});
  EXPECT_EQ(button_.state(), 0);
  EXPECT_EQ(clicks.count(), 1);

  button_.setCaption("");
  EXPECT_EQ(button_.caption(), "1");
  button_.setCaption("16");
  EXPECT_EQ(button_.caption(), "16");
}

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
  void press(int x) { QTest::mousePress(&slider_, Qt::LeftButton, {}, {x, 4}); }
  void release(int x) { QTest::mouseRelease(&slider_, Qt::LeftButton, {}, {x, 4}); }
  QColor shownAt(QPoint at) { return backdrop_.pixelOf(slider_, at); }

  Backdrop backdrop_;
  CSkinSlider slider_;
  RecordingWindow parent_;
};

TEST_F(SkinSlider, TakesItsGeometryFromTheImagesAndMapsPositionsToThumbCentres) {
  EXPECT_EQ(slider_.geometry(), QRect(20, 20, 20, 9));
  EXPECT_EQ(slider_.trackWidth(), 20);
  EXPECT_EQ(slider_.thumbWidth(), 6);
  // 32767: 6.9998 rounded, then + 3.
  for (const auto& [position, centre] : {std::pair{65535, 17}, {0, 3}, {32767, 10}}) {
    EXPECT_EQ(slider_.thumbCentreFor(position), centre) << position;
    EXPECT_EQ(slider_.positionFor(centre), position) << centre;
  }
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
  press(12);
  EXPECT_TRUE(slider_.isDragging());
  EXPECT_EQ(slider_.thumbCentre(), 12);
  EXPECT_EQ(slider_.position(), 42129);  // trunc(9 / 14 * 65535)
  EXPECT_FALSE(messageArrives());        // nothing before the release

  release(12);
  EXPECT_FALSE(slider_.isDragging());
  ASSERT_TRUE(messageArrives());
  ASSERT_EQ(parent_.received.size(), 1u);
  EXPECT_EQ(parent_.received[0].msg, msg::kVolumeChanged);
  EXPECT_EQ(parent_.received[0].wParam, 1037u);
  EXPECT_EQ(parent_.received[0].lParam, 42129);
}

TEST_F(SkinSlider, DraggingTheThumbKeepsTheGrabPointAndStopsAtTheEnds) {
  press(5);  // on the thumb (centre 3), 2 to its right
  EXPECT_EQ(slider_.position(), 0);
  for (const auto& [x, position] : {std::pair{9, 18724}, {60, 65535}, {-30, 0}, {16, 51491}}) {
    QTest::mouseMove(&slider_, {x, 4});
    EXPECT_EQ(slider_.position(), position) << x;
  }
  EXPECT_EQ(slider_.thumbCentre(), 14);
  release(16);
  ASSERT_TRUE(messageArrives());
  EXPECT_EQ(parent_.received.back().lParam, 51491);
}

TEST_F(SkinSlider, DisablingDuringADragEndsItWithoutAReport) {
  press(12);
  slider_.setEnabled(false);
  EXPECT_FALSE(slider_.isDragging());
  release(12);
  press(16);  // ignored while disabled
  EXPECT_FALSE(slider_.isDragging());
  EXPECT_FALSE(messageArrives());

  slider_.setEnabled(true);
  QTest::mouseClick(&slider_, Qt::LeftButton, {}, {16, 4});
  ASSERT_TRUE(messageArrives());
  EXPECT_EQ(parent_.received.size(), 1u);
}

TEST_F(SkinSlider, PaintsFilledTrackLeftOfTheThumbAndKeysOutBlack) {
  const QPoint groove(10, 4);
  slider_.setPosition(65535);  // thumb centre 17: x = 10 lies left of it
  EXPECT_EQ(shownAt(groove), QColor(skin::bitmap(151).pixel(groove)));
  slider_.setPosition(0);  // thumb centre 3
  EXPECT_EQ(shownAt(groove), QColor(skin::bitmap(152).pixel(groove)));
  EXPECT_EQ(shownAt({10, 0}), Backdrop::kColour);  // black key: not drawn

  // The thumb sits at centre - 3, and shows the dragged image while dragging.
  EXPECT_EQ(shownAt({3, 4}), QColor(skin::bitmap(153).pixel(3, 4)));
  press(4);
  EXPECT_EQ(shownAt({3, 4}), QColor(skin::bitmap(154).pixel(3, 4)));
  release(4);
}

TEST_F(SkinSlider, KeyColourCanComeFromAPixelAndMissingImagesAreRefused) {
  QImage track = solidImage({20, 9}, QColor(10, 20, 30));
  EXPECT_EQ(slider_.setTrackImages(track, QImage(), true, CSkinSlider::kKeyFromPixel, 0, 0), 1);
  EXPECT_EQ(shownAt({12, 1}), Backdrop::kColour);
  track.setPixel(15, 5, qRgb(1, 2, 3));
  EXPECT_EQ(slider_.setTrackImages(track, QImage(), true, CSkinSlider::kKeyFromPixel, 0, 0), 1);
  EXPECT_EQ(shownAt({15, 5}), QColor(1, 2, 3));

  EXPECT_EQ(slider_.setTrackImages(152, 163, true, 0, 0, 0), 0);
  EXPECT_EQ(slider_.setThumbImages(148, 0, false, 0, 0, 0), 0);
}

// Each control's images fit the rectangle the main window gives it.
TEST(SkinArtwork, EveryImageHasTheSizeOfItsControl) {
  const struct {
    int first, last;
    QSize size;
  } groups[] = {{skin::kBackground, skin::kBackground, {240, 268}},
                {137, 140, {23, 9}},
                {142, 143, {31, 9}},
                {144, 147, {11, 9}},
                {150, 150, {6, 4}},
                {151, 152, {20, 9}},
                {153, 154, {6, 9}},
                {155, 162, {28, 40}},
                {191, 198, {28, 40}},
                {164, 167, {13, 9}},
                {179, 182, {13, 9}},
                {170, 173, {9, 13}},
                {175, 178, {9, 13}},
                {199, 230, {13, 19}}};
  for (const auto& group : groups)
    for (int id = group.first; id <= group.last; ++id)
      EXPECT_EQ(skin::bitmap(id).size(), group.size) << id;
  EXPECT_TRUE(skin::bitmap(163).isNull());
  EXPECT_EQ(skin::bitmapIds().size(), 80u);
}

TEST(SkinArtwork, TheStatesOfAButtonLookDifferent) {
  for (int first : {155, 159, 164, 170, 175, 179, 191, 195})
    for (int a = first; a < first + 4; ++a)
      for (int b = a + 1; b < first + 4; ++b)
        EXPECT_NE(skin::bitmap(a), skin::bitmap(b)) << a << " " << b;
  for (int k = 0; k < 8; ++k) {
    EXPECT_NE(skin::bitmap(199 + k), skin::bitmap(223 + k));      // normal and latched
    EXPECT_NE(skin::bitmap(199 + k), skin::bitmap(200 + k % 7));  // presets differ by digit
  }
}

TEST(SkinArtwork, TheTracksAreBlackAroundTheirGrooveOnly) {
  for (int id : {151, 152}) {
    EXPECT_EQ(skin::bitmap(id).pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_NE(skin::bitmap(id).pixel(10, 4), qRgb(0, 0, 0));
  }
  EXPECT_NE(skin::bitmap(151).pixel(10, 4), skin::bitmap(152).pixel(10, 4));
}

}  // namespace
