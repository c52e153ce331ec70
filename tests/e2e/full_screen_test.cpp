// Full screen through the paths that end or change what it shows: a session that ends while it
// is up, and a switch to a channel of the other coding.
#include <QDialog>
#include <QImage>

#include <algorithm>

#include "app/control_ids.h"
#include "e2e/viewer_fixture.h"
#include "platform/display_qt_backend.h"
#include "protocol/command_codes.h"
#include "protocol/dvr_client.h"
#include "ui/channel_button.h"
#include "ui/hover_button.h"

namespace e2e {
namespace {

constexpr uint16_t kCleared = 0x0821;
constexpr long kWindowArea = 214L * 160L;

class FullScreenTest : public ViewerTest {
 protected:
  // Display memory cleared to one value, then the pixels that a few pictures drew over it.
  long drawnPixels() {
    window().display().fill(kCleared);
    const uint64_t before = window().display().endCount();
    if (!waitFor([&] { return window().display().endCount() > before + 3; }, 8000)) return 0;
    const std::vector<uint16_t> memory = window().display().snapshot();
    return long(memory.size()) - std::count(memory.begin(), memory.end(), kCleared);
  }
  bool waitForPictures() {
    return waitFor([&] { return window().displayReady() && !window().display().isSuspended(); },
                   8000) &&
           waitFor(
               [&, before = window().display().endCount()] {
                 return window().display().endCount() > before + 2;
               },
               8000);
  }
  // What the screen shows: the picture the backend was last handed.
  QImage shownPicture() {
    return dynamic_cast<CQtDisplayBackend*>(services.displayBackend)->front();
  }
  static bool allBlack(const QImage& image) {
    QImage black(image.size(), image.format());
    black.fill(0);
    return image == black;
  }
};

// Every way a session ends while full screen is up: the control link drops, the live stream
// drops, a login is refused, the orderly disconnect completes (the window's close runs it).
class SessionEndInFullScreenTest : public FullScreenTest,
                                   public ::testing::WithParamInterface<const char*> {};

TEST_P(SessionEndInFullScreenTest, LeavesFullScreenClearedWithConnectBack) {
  const std::string how = GetParam();
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(0));
  bool leftWithTheSession = false;
  bool cleared = false;
  onOtherDialog = [&](QDialog&) {
    EXPECT_TRUE(waitForPictures());
    EXPECT_FALSE(allBlack(shownPicture()));
    if (how == "refused login") {
      command("refuse-next 2052 audio");
      press(ctl::kAudioOn);
    } else if (how == "disconnect") {
      press(ctl::kDisconnect);
    } else {
      command(how);
    }
    EXPECT_TRUE(waitFor([&] { return window().client() == nullptr; }));
    leftWithTheSession = !window().fullScreen();
    cleared = allBlack(shownPicture());
    return 0;
  };
  window().tapWindow(QPoint(120, 100));
  EXPECT_TRUE(leftWithTheSession);
  EXPECT_TRUE(cleared);
  EXPECT_FALSE(window().fullScreen());
  // Back in the window: Connect is there to start again, nothing of the session is.
  EXPECT_TRUE(window().hoverButton(ctl::kConnect)->isVisible());
  EXPECT_TRUE(window().hoverButton(ctl::kConnect)->isEnabled());
  EXPECT_FALSE(window().hoverButton(ctl::kDisconnect)->isVisible());
  EXPECT_FALSE(window().hoverButton(ctl::kChannelMarker)->isVisible());
  if (how != "refused login") {
    EXPECT_EQ(window().statusText(), address() + " Disconnected.");
  }
  ASSERT_TRUE(waitFor([&] { return window().displayReady(); }, 8000));
  connectAndWait();
  EXPECT_TRUE(showChannel(1));
}

INSTANTIATE_TEST_SUITE_P(Teardowns, SessionEndInFullScreenTest,
                         ::testing::Values("drop control", "drop live", "refused login",
                                           "disconnect"));

// The demo's tour goes between JPEG and MPEG-4 channels while full screen is up: each new
// picture fills the screen, whichever coding full screen started with, and back in the window
// both draw in the picture area again.
TEST_F(FullScreenTest, ASwitchToTheOtherCodingFillsTheScreen) {
  emulatorArgs = {"--channel", "2:codec=mpeg4"};
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(0));
  long drawn = 0;
  const auto switchInFullScreen = [&](int to) {
    onOtherDialog = [&, to](QDialog&) {
      EXPECT_TRUE(waitForPictures());
      EXPECT_TRUE(showChannel(to));
      drawn = drawnPixels();
      return 0;
    };
    window().tapWindow(QPoint(120, 100));
    ASSERT_TRUE(waitFor([&] { return window().displayReady(); }, 8000));
  };

  switchInFullScreen(1);  // JPEG to MPEG-4
  EXPECT_TRUE(window().hoverButton(ctl::kDisconnect)->isVisible());
  EXPECT_FALSE(window().hoverButton(ctl::kConnect)->isVisible());
  EXPECT_TRUE(window().hoverButton(ctl::kChannelMarker)->isVisible());
  EXPECT_EQ(window().client()->stream().codecMode(), 1);
  EXPECT_GT(drawn, kWindowArea + 1000);
  drawn = drawnPixels();
  EXPECT_GT(drawn, kWindowArea / 2);
  EXPECT_LE(drawn, kWindowArea);

  switchInFullScreen(0);  // MPEG-4 to JPEG
  EXPECT_EQ(window().client()->stream().codecMode(), 0);
  EXPECT_GT(drawn, kWindowArea + 1000);
  drawn = drawnPixels();
  EXPECT_GT(drawn, kWindowArea / 2);
  EXPECT_LE(drawn, kWindowArea);
}

}  // namespace
}  // namespace e2e
