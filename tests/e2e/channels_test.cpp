// Channel selection end to end: the first start, switches by close and rebuild, failures and
// timeouts, masked channels, and full screen.
#include <QDialog>

#include <algorithm>

#include "app/control_ids.h"
#include "e2e/viewer_fixture.h"
#include "protocol/command_codes.h"
#include "protocol/dvr_client.h"
#include "ui/channel_button.h"
#include "ui/hover_button.h"

namespace e2e {
namespace {

using Requests = std::vector<std::string>;

class ChannelTest : public ViewerTest {
 protected:
  // The live picture is really drawn: frames keep arriving in display memory.
  bool framesFlow() {
    const uint64_t before = window().display().endCount();
    return waitFor([&] { return window().display().endCount() >= before + 3; }, 10000);
  }
  // A picture is really decoded and drawn: display memory cleared to one value fills again.
  bool pictureDrawn() {
    constexpr uint16_t kCleared = 0x0821;
    window().display().fill(kCleared);
    return waitFor([&] {
      const std::vector<uint16_t> memory = window().display().snapshot();
      // The window's picture area is 214 x 160 of the 240 x 320 display.
      return std::count(memory.begin(), memory.end(), kCleared) < long(memory.size()) - 30000;
    });
  }
  uint8_t codecMode() { return window().client()->stream().codecMode(); }
};

// A DVR may change a channel's coding while it streams (a setting changed at the recorder): the
// picture goes on in the new coding, and back.
TEST_F(ChannelTest, PicturesGoOnWhenTheDvrChangesCodingMidStream) {
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(0));
  ASSERT_TRUE(pictureDrawn());
  EXPECT_EQ(codecMode(), 0);

  EXPECT_EQ(command("video-codec 1 mpeg4"), "ok\n");
  ASSERT_TRUE(waitFor([&] { return codecMode() == 1; }));
  EXPECT_TRUE(pictureDrawn());

  EXPECT_EQ(command("video-codec 1 jpeg"), "ok\n");
  ASSERT_TRUE(waitFor([&] { return codecMode() == 0; }));
  EXPECT_TRUE(pictureDrawn());
  EXPECT_EQ(window().statusText(), QString());
}

TEST_F(ChannelTest, FirstChannelStartsAloneLaterSwitchesRebuild) {
  start();
  connectAndWait();
  recorder.clear();
  ASSERT_TRUE(showChannel(0));
  EXPECT_EQ(recorder.requests("control"), Requests{"REQ_LIVESTART"});
  EXPECT_TRUE(framesFlow());
  EXPECT_TRUE(window().hoverButton(ctl::kChannelMarker)->isVisible());
  EXPECT_EQ(window().hoverButton(ctl::kChannelMarker)->geometry(), QRect(3, 181, 6, 4));

  recorder.clear();
  ASSERT_TRUE(showChannel(2));
  EXPECT_EQ(recorder.requests("control"),
            (Requests{"REQ_LIVECLOSE", "REQ_LIVEOPEN", "REQ_LIVESETUP", "REQ_LIVESTART"}));
  EXPECT_EQ(window().hoverButton(ctl::kChannelMarker)->geometry(), QRect(29, 181, 6, 4));
  EXPECT_TRUE(framesFlow());
  EXPECT_EQ(window().statusText(), QString());
}

TEST_F(ChannelTest, PressingTheShownChannelDoesNothing) {
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(1));
  recorder.clear();
  press(ctl::kFirstChannel + 1);
  EXPECT_FALSE(window().timerRunning(timers::kSwitchTimeout));
  waitFor([] { return false; }, 200);
  EXPECT_TRUE(recorder.requests("control").empty());
}

// A switch the DVR refuses goes back to the channel that was shown: its picture runs again under
// its marker, and every unmasked button works, the refused channel's included.
TEST_F(ChannelTest, ARefusedSwitchGoesBackToTheShownChannel) {
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(0));
  command("fail RSP_LIVESTART 0");
  press(ctl::kFirstChannel + 1);
  ASSERT_TRUE(waitForStatus("Request failure. [Channel 1]")) << window().statusText().toStdString();
  EXPECT_EQ(window().shownChannel(), 0);
  EXPECT_EQ(window().selectedChannel(), 0);
  EXPECT_EQ(window().hoverButton(ctl::kChannelMarker)->geometry(), QRect(3, 181, 6, 4));
  EXPECT_TRUE(window().hoverButton(ctl::kChannelMarker)->isVisible());
  EXPECT_TRUE(waitFor([&] { return window().client()->stream().requestedChannel() == 0; }));
  EXPECT_TRUE(framesFlow());
  EXPECT_EQ(window().channelButton(0)->state(), chstate::kShown);
  EXPECT_EQ(window().channelButton(1)->state(), chstate::kAvailable);
  for (int n = 0; n < 4; ++n) EXPECT_TRUE(window().channelButton(n)->isEnabled()) << n;
  // The picture came back without hiding what happened.
  EXPECT_EQ(window().statusText().toStdString(), "Request failure. [Channel 1]");
  EXPECT_FALSE(window().timerRunning(timers::kSwitchTimeout));

  // The refused channel itself can be pressed again.
  ASSERT_TRUE(showChannel(1));
  EXPECT_EQ(window().client()->stream().requestedChannel(), 1);
  EXPECT_TRUE(framesFlow());
  EXPECT_EQ(window().statusText(), QString());
}

// A DVR that doesn't answer in time: the switch times out back to the shown channel, whose
// picture runs again once the DVR answers; the channel that timed out can be pressed again.
TEST_F(ChannelTest, ATimedOutSwitchGoesBackAndCanBeRetried) {
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(2));
  command("fault control stall 5");
  press(ctl::kFirstChannel + 3);
  ASSERT_TRUE(waitFor([&] { return window().statusText().startsWith("Request timeout."); }, 8000));
  EXPECT_EQ(window().statusText().toStdString(), "Request timeout. [Channel 3]");
  EXPECT_EQ(window().shownChannel(), 2);
  EXPECT_EQ(window().hoverButton(ctl::kChannelMarker)->geometry(), QRect(29, 181, 6, 4));
  for (int n = 0; n < 4; ++n) EXPECT_TRUE(window().channelButton(n)->isEnabled()) << n;
  ASSERT_TRUE(waitFor(
      [&] {
        return window().client()->stream().requestedChannel() == 2 &&
               !window().timerRunning(timers::kSwitchTimeout);
      },
      8000));
  EXPECT_TRUE(framesFlow());
  EXPECT_EQ(window().shownChannel(), 2);
  EXPECT_EQ(window().channelButton(2)->state(), chstate::kShown);

  ASSERT_TRUE(showChannel(3, 8000));
  EXPECT_EQ(window().client()->stream().requestedChannel(), 3);
  EXPECT_TRUE(framesFlow());
}

// The DVR loses its answer to the close: the switch times out and the old channel starts again
// on the live stream that still runs.
TEST_F(ChannelTest, ASwitchWhoseCloseIsNeverAnsweredGoesBack) {
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(1));
  command("fault control drop 1");  // RSP_LIVECLOSE
  press(ctl::kFirstChannel + 2);
  ASSERT_TRUE(waitFor([&] { return window().statusText().startsWith("Request timeout."); }, 8000));
  EXPECT_EQ(window().statusText().toStdString(), "Request timeout. [Channel 2]");
  ASSERT_TRUE(waitFor([&] {
    return window().client()->stream().requestedChannel() == 1 &&
           !window().timerRunning(timers::kSwitchTimeout);
  }));
  EXPECT_TRUE(framesFlow());
  EXPECT_EQ(window().statusText().toStdString(), "Request timeout. [Channel 2]");
  ASSERT_TRUE(showChannel(2));
  EXPECT_TRUE(framesFlow());
  EXPECT_NE(window().client(), nullptr);
}

// The first channel asked for doesn't exist (channel 5 of a 4-channel DVR, as --channel 5 asks):
// nothing is shown, the status says so, and every channel can be pressed, that one again too.
TEST_F(ChannelTest, AFailedFirstStartLeavesEveryChannelPressable) {
  start();
  connectAndWait();
  press(ctl::kFirstChannel + 4);  // what --channel 5 does; the DVR refuses it
  ASSERT_TRUE(waitForStatus("Request failure. [Channel 0]")) << window().statusText().toStdString();
  EXPECT_EQ(window().shownChannel(), -1);
  EXPECT_FALSE(window().hoverButton(ctl::kChannelMarker)->isVisible());
  for (int n = 0; n < 4; ++n) EXPECT_TRUE(window().channelButton(n)->isEnabled()) << n;
  recorder.clear();
  press(ctl::kFirstChannel + 4);  // pressed again: asked again, refused again
  ASSERT_TRUE(waitFor([&] { return recorder.count(REQ_LIVESTART) == 1; }));
  ASSERT_TRUE(waitForStatus("Request failure. [Channel 0]"));
  ASSERT_TRUE(showChannel(1));
  EXPECT_TRUE(framesFlow());
}

TEST_F(ChannelTest, MaskedChannelsStayDisabledThroughSwitches) {
  emulatorArgs = {"--channels", "4", "--disabled-mask-b", "0x2"};
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(0));
  ASSERT_TRUE(showChannel(2));
  for (int n = 0; n < 16; ++n) {
    const bool masked = n == 1 || n >= 4;
    EXPECT_EQ(window().channelButton(n)->isEnabled(), !masked) << n;
  }
  EXPECT_EQ(window().channelButton(2)->state(), chstate::kShown);
}

TEST_F(ChannelTest, FullScreenOnAndOffWithItsTimers) {
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(0));
  bool sawFullScreen = false;
  onOtherDialog = [&](QDialog&) {
    sawFullScreen = window().fullScreen() && !window().displayReady() &&
                    window().timerRunning(timers::kResumeDrawing);
    // Timer 200 lets drawing resume in full screen.
    waitFor([&] { return window().displayReady(); }, 8000);
    const uint64_t before = window().display().endCount();
    waitFor([&] { return window().display().endCount() > before + 2; }, 8000);
    return 0;
  };
  window().tapWindow(QPoint(120, 100));
  EXPECT_TRUE(sawFullScreen);
  EXPECT_FALSE(window().fullScreen());
  EXPECT_TRUE(window().timerRunning(timers::kReopenDisplay));
  EXPECT_TRUE(
      waitFor([&] { return window().displayReady() && window().display().isOpen(); }, 8000));
  EXPECT_TRUE(framesFlow());

  // The lower half of the window never opens full screen.
  onOtherDialog = [&](QDialog&) {
    ADD_FAILURE() << "full screen opened";
    return 0;
  };
  window().tapWindow(QPoint(120, 200));
}

}  // namespace
}  // namespace e2e

namespace e2e {
namespace {

// Some DVRs close the old live-stream connection themselves after RSP_LIVECLOSE, others leave
// it to the viewer; a switch completes either way.
class SwitchWithLiveCloseTest : public ViewerTest,
                                public ::testing::WithParamInterface<const char*> {};

TEST_P(SwitchWithLiveCloseTest, FiftySwitchesComplete) {
  emulatorArgs = {"--live-close", GetParam()};
  start();
  connectAndWait();
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(showChannel((i * 3) % 4, 5000)) << "switch " << i;
  }
  EXPECT_EQ(recorder.count(REQ_LIVESTART), 50u);
  EXPECT_NE(window().client(), nullptr);
  const uint64_t before = window().display().endCount();
  EXPECT_TRUE(waitFor([&] { return window().display().endCount() > before + 2; }));
  EXPECT_EQ(window().statusText(), QString());
}

INSTANTIATE_TEST_SUITE_P(DvrBehaviours, SwitchWithLiveCloseTest, ::testing::Values("keep", "drop"));

}  // namespace
}  // namespace e2e
