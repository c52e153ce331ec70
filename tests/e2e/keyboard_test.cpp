// Every key takes the path of the button it stands for: the same requests reach the DVR.
#include <QCoreApplication>
#include <QDialog>
#include <QFocusEvent>
#include <QKeyEvent>

#include <array>

#include "app/control_ids.h"
#include "e2e/viewer_fixture.h"
#include "protocol/command_codes.h"
#include "ui/channel_button.h"
#include "ui/hover_button.h"

namespace e2e {
namespace {

class KeyboardTest : public ViewerTest {
 protected:
  void key(int code, bool down, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
           const QString& text = QString()) {
    QKeyEvent event(down ? QEvent::KeyPress : QEvent::KeyRelease, code, modifiers, text);
    QCoreApplication::sendEvent(&window(), &event);
  }
  void tap(int code, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    key(code, true, modifiers);
    key(code, false, modifiers);
  }
  std::vector<std::array<int, 2>> ptz() {
    std::vector<std::array<int, 2>> codes;
    for (const auto& body : recorder.bodies(REQ_PTZCONTROL)) codes.push_back({body[64], body[65]});
    return codes;
  }
};

TEST_F(KeyboardTest, DigitsChooseChannelsLikeTheirButtons) {
  emulatorArgs = {"--channels", "16"};
  start();
  connectAndWait();
  tap(Qt::Key_2);
  ASSERT_TRUE(waitFor([&] { return window().shownChannel() == 1 && window().liveReady(); }));
  tap(Qt::Key_0);
  ASSERT_TRUE(waitFor([&] { return window().shownChannel() == 9 && window().liveReady(); }));
  tap(Qt::Key_3, Qt::ShiftModifier);  // Shift+3: channel 13
  ASSERT_TRUE(waitFor([&] { return window().shownChannel() == 12 && window().liveReady(); }));
  tap(Qt::Key_Exclam, Qt::ShiftModifier);  // Shift+1 as a US layout delivers it: channel 11
  ASSERT_TRUE(waitFor([&] { return window().shownChannel() == 10 && window().liveReady(); }));
  const auto starts = recorder.bodies(REQ_LIVESTART);
  ASSERT_EQ(starts.size(), 4u);
  // The masks the buttons would have sent: channels 2, 10, 13, 11.
  const uint32_t masks[] = {1u << 1, 1u << 9, 1u << 12, 1u << 10};
  for (size_t i = 0; i < 4; ++i) {
    const auto& b = starts[i];
    EXPECT_EQ(uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3], masks[i]);
  }
}

TEST_F(KeyboardTest, KeysOfDisabledChannelsDoNothing) {
  start();
  tap(Qt::Key_3);  // not connected: every channel button is disabled
  EXPECT_EQ(window().selectedChannel(), 0);
  connectAndWait();
  // While a switch runs every channel button is disabled: a digit then starts no second one.
  press(ctl::kFirstChannel + 1);
  ASSERT_FALSE(window().channelButton(3)->isEnabled());
  tap(Qt::Key_4);
  EXPECT_EQ(window().selectedChannel(), 1);
  ASSERT_TRUE(showChannel(1));
  waitFor([] { return false; }, 300);
  EXPECT_EQ(window().shownChannel(), 1);
  EXPECT_EQ(recorder.count(REQ_LIVESTART), 1u);
  tap(Qt::Key_8);  // beyond the emulator's 4 channels: masked
  EXPECT_FALSE(window().timerRunning(timers::kSwitchTimeout));
  EXPECT_EQ(window().selectedChannel(), 1);
}

TEST_F(KeyboardTest, HeldKeysMoveTheCameraUntilReleasedOrFocusIsLost) {
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(0));
  key(Qt::Key_Up, true);
  key(Qt::Key_Up, true);  // a second press while held changes nothing
  key(Qt::Key_Up, false);
  tap(Qt::Key_Plus);
  tap(Qt::Key_Minus);
  key(Qt::Key_Left, true);
  QFocusEvent focusOut(QEvent::FocusOut);
  QCoreApplication::sendEvent(&window(), &focusOut);
  ASSERT_TRUE(waitFor([&] { return ptz().size() == 8; }));
  const std::vector<std::array<int, 2>> expected = {{0, 1}, {0, 0}, {0, 5}, {0, 9},
                                                    {0, 6}, {0, 9}, {0, 3}, {0, 0}};
  EXPECT_EQ(ptz(), expected);
  EXPECT_FALSE(window().ptzMoving());
}

// The stop goes to the camera that was started, whatever channel was chosen while the key was
// held: to channel 1's camera when channel 3 (with a camera) or channel 2 (without) comes up.
TEST_F(KeyboardTest, AHeldKeyStopsTheCameraItStarted) {
  emulatorArgs = {"--ptz-mask", "0x5"};
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(0));
  key(Qt::Key_Left, true);
  ASSERT_TRUE(window().ptzMoving());
  tap(Qt::Key_3);
  ASSERT_TRUE(waitFor([&] { return window().shownChannel() == 2 && window().liveReady(); }));
  key(Qt::Key_Left, false);
  ASSERT_TRUE(waitFor([&] { return ptz().size() == 2; }));
  EXPECT_EQ(ptz()[1], (std::array<int, 2>{0, 0}));
  EXPECT_FALSE(window().ptzMoving());

  ASSERT_TRUE(showChannel(0));
  key(Qt::Key_Plus, true);
  tap(Qt::Key_2);
  ASSERT_TRUE(waitFor([&] { return window().shownChannel() == 1 && window().liveReady(); }));
  EXPECT_FALSE(window().hoverButton(ctl::kPlus)->isVisible());
  key(Qt::Key_Plus, false);
  ASSERT_TRUE(waitFor([&] { return ptz().size() == 4; }));
  EXPECT_EQ(ptz()[3], (std::array<int, 2>{0, 9}));
  EXPECT_FALSE(window().ptzMoving());

  // Camera keys work again on the next channel with a camera.
  ASSERT_TRUE(showChannel(2));
  tap(Qt::Key_Down);
  ASSERT_TRUE(waitFor([&] { return ptz().size() == 6; }));
  EXPECT_EQ(ptz()[4], (std::array<int, 2>{2, 2}));
  EXPECT_EQ(ptz()[5], (std::array<int, 2>{2, 0}));
}

TEST_F(KeyboardTest, AudioAndFullScreenKeys) {
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(0));
  tap(Qt::Key_A);
  EXPECT_TRUE(window().audioOn());
  ASSERT_TRUE(waitFor([&] { return recorder.count(REQ_AUDIOSELECT) == 1; }));
  tap(Qt::Key_A);
  EXPECT_FALSE(window().audioOn());
  EXPECT_TRUE(waitFor([&] { return recorder.count(REQ_AUDIOCLOSE) == 1; }));

  bool opened = false;
  onOtherDialog = [&](QDialog& dialog) {
    opened = window().fullScreen();
    // Escape leaves full screen, as a tap on the picture does.
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(&dialog, &escape);
    EXPECT_FALSE(window().fullScreen());
    return 0;
  };
  tap(Qt::Key_F);
  EXPECT_TRUE(opened);
  EXPECT_FALSE(window().fullScreen());
}

}  // namespace
}  // namespace e2e
