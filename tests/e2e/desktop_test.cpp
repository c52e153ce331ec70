// The window and the desktop's session bus: the screen kept awake in full screen and in kiosk
// runs, and DVR notices and a lost link as notifications while the viewer is in the background.
// A private bus with fake desktop services records every call.
#include <QDBusConnection>
#include <QWidget>

#include <memory>

#include "app/control_ids.h"
#include "desktop/desktop_notifier.h"
#include "desktop/screen_saver_inhibitor.h"
#include "e2e/viewer_fixture.h"
#include "support/private_session_bus.h"

namespace e2e {
namespace {

using testing_support::CFakeDesktop;
using testing_support::CPrivateSessionBus;

class DesktopTest : public ViewerTest {
 protected:
  void SetUp() override {
    if (bus_.address().isEmpty()) GTEST_SKIP() << bus_.skipReason().toStdString();
    ASSERT_TRUE(fakes_.registered());
    ViewerTest::SetUp();
    const QDBusConnection connection = bus_.connect(QStringLiteral("viewer"));
    inhibitor_ =
        std::make_unique<desktop::CScreenSaverInhibitor>(QStringLiteral("PelloxView"), connection);
    notifier_ = std::make_unique<desktop::CDesktopNotifier>(
        QStringLiteral("PelloxView"), QStringLiteral("pelloxview"), connection);
    services.screenSaver = inhibitor_.get();
    services.notifier = notifier_.get();
  }

  // Another application window takes the keyboard, as when the user works elsewhere.
  void sendViewerToBackground() {
    other_ = std::make_unique<QWidget>();
    other_->show();
    other_->activateWindow();
    ASSERT_TRUE(waitFor([&] { return other_->isActiveWindow() && !window().isActiveWindow(); }));
  }
  void bringViewerBack() {
    window().activateWindow();
    ASSERT_TRUE(waitFor([&] { return window().isActiveWindow(); }));
  }
  void settle(int ms = 300) {
    waitFor([] { return false; }, ms);
  }
  bool waitForUnInhibits(int n) {
    return waitFor([&] { return screenSaver().count("UnInhibit") == n; });
  }

  testing_support::CFakeScreenSaver& screenSaver() { return fakes_.screenSaver; }
  std::vector<testing_support::CFakeNotifications::Call>& notifications() {
    return fakes_.notifications.calls;
  }

  CPrivateSessionBus bus_;
  CFakeDesktop fakes_{bus_};
  std::unique_ptr<desktop::CScreenSaverInhibitor> inhibitor_;
  std::unique_ptr<desktop::CDesktopNotifier> notifier_;
  std::unique_ptr<QWidget> other_;
};

// Full screen keeps the screen awake, and every way out of it lets the screen sleep again:
// leaving it, a Disconnect, a lost link.
class FullScreenAwakeTest : public DesktopTest,
                            public ::testing::WithParamInterface<const char*> {};

TEST_P(FullScreenAwakeTest, InhibitedWhileShownReleasedOnTheWayOut) {
  const std::string how = GetParam();
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(0));
  settle();
  EXPECT_TRUE(screenSaver().calls.empty()) << "a window view needs no awake screen";
  bool releasedWithTheSession = false;
  onOtherDialog = [&](QDialog&) {
    EXPECT_TRUE(waitFor([&] { return inhibitor_->cookie().has_value(); }));
    if (how == "leave") return 0;
    if (how == "disconnect") {
      press(ctl::kDisconnect);
    } else {
      command(how);
    }
    EXPECT_TRUE(waitFor([&] { return window().client() == nullptr; }));
    releasedWithTheSession = waitForUnInhibits(1);
    return 0;
  };
  window().tapWindow(QPoint(120, 100));
  ASSERT_TRUE(waitForUnInhibits(1));
  if (how != "leave") {
    EXPECT_TRUE(releasedWithTheSession);
  }
  settle();
  ASSERT_EQ(screenSaver().calls.size(), 2u);
  EXPECT_EQ(screenSaver().calls[0].appName, QStringLiteral("PelloxView"));
  EXPECT_EQ(screenSaver().calls[0].reason, QStringLiteral("Showing live camera video"));
  EXPECT_EQ(screenSaver().calls[1].cookie, screenSaver().calls[0].cookie);
  EXPECT_FALSE(inhibitor_->inhibited());
}

INSTANTIATE_TEST_SUITE_P(WaysOut, FullScreenAwakeTest,
                         ::testing::Values("leave", "disconnect", "drop control"));

// A kiosk run keeps the screen awake from "Connected." to the end of the session, in the window
// view and full screen alike, and lets it go when the window is closed.
TEST_F(DesktopTest, AKioskRunStaysAwakeWhileConnected) {
  services.keepAwakeWhileConnected = true;
  start();
  connectAndWait();
  ASSERT_TRUE(waitFor([&] { return inhibitor_->cookie().has_value(); }));
  ASSERT_TRUE(showChannel(0));
  onOtherDialog = [&](QDialog&) { return 0; };
  window().tapWindow(QPoint(120, 100));
  settle();
  EXPECT_EQ(screenSaver().count("Inhibit"), 1);
  EXPECT_EQ(screenSaver().count("UnInhibit"), 0) << "leaving full screen keeps a kiosk awake";

  press(ctl::kDisconnect);
  ASSERT_TRUE(waitForUnInhibits(1));
  EXPECT_TRUE(screenSaver().heldCookies().empty());

  connectAndWait();
  ASSERT_TRUE(waitFor([&] { return screenSaver().count("Inhibit") == 2; }));
  ASSERT_TRUE(waitFor([&] { return inhibitor_->cookie().has_value(); }));
  window().close();
  ASSERT_TRUE(waitForUnInhibits(2));
  EXPECT_TRUE(screenSaver().heldCookies().empty());
}

// Notices reach a user who works in another window; each bubble replaces the one before; a
// viewer in front shows them on its status line only.
TEST_F(DesktopTest, NoticesBecomeNotificationsOnlyInTheBackground) {
  start();
  connectAndWait();
  sendViewerToBackground();
  command("notice power");
  ASSERT_TRUE(waitFor([&] { return notifications().size() == 1; }));
  command("notice setup user");
  ASSERT_TRUE(waitFor([&] { return notifications().size() == 2; }));
  command("notice leave admin");
  ASSERT_TRUE(waitFor([&] { return notifications().size() == 3; }));

  EXPECT_EQ(notifications()[0].summary, address() + " Power off");
  EXPECT_EQ(notifications()[0].body, "DVR " + address());
  EXPECT_EQ(notifications()[0].appName, QStringLiteral("PelloxView"));
  EXPECT_EQ(notifications()[0].replacesId, 0u);
  EXPECT_EQ(notifications()[0].hints.value(QStringLiteral("urgency")).toInt(), 2);
  EXPECT_EQ(notifications()[1].summary, QStringLiteral("user entered into DVR Setup"));
  EXPECT_EQ(notifications()[1].replacesId, notifications()[0].id);
  EXPECT_EQ(notifications()[2].summary, QStringLiteral("admin get out of DVR Setup"));
  EXPECT_EQ(notifications()[2].replacesId, notifications()[1].id);

  bringViewerBack();
  command("notice setup admin");
  ASSERT_TRUE(waitForStatus(QStringLiteral("admin entered into DVR Setup")));
  settle();
  EXPECT_EQ(notifications().size(), 3u);
}

// A lost link is told too, unless a notice already told why the DVR went; a Disconnect by the
// user is not.
TEST_F(DesktopTest, ALostLinkIsToldOnceWithoutHidingTheNoticeBeforeIt) {
  start();
  connectAndWait();
  sendViewerToBackground();
  press(ctl::kDisconnect);
  ASSERT_TRUE(waitFor([&] { return window().client() == nullptr; }));
  connectAndWait();
  command("drop control");
  ASSERT_TRUE(waitFor([&] { return notifications().size() == 1; }));
  EXPECT_EQ(notifications()[0].summary, address() + " Disconnected.");
  EXPECT_EQ(notifications()[0].hints.value(QStringLiteral("urgency")).toInt(), 2);

  connectAndWait();
  command("notice power");
  ASSERT_TRUE(waitFor([&] { return notifications().size() == 2; }));
  command("drop control");
  ASSERT_TRUE(waitFor([&] { return window().client() == nullptr; }));
  settle();
  ASSERT_EQ(notifications().size(), 2u);
  EXPECT_EQ(notifications()[1].summary, address() + " Power off");
}

}  // namespace
}  // namespace e2e
