// The screensaver inhibitor and the notifier against a private session bus with fake desktop
// services that record every call.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QTest>

#include <memory>

#include "desktop/desktop_notifier.h"
#include "desktop/screen_saver_inhibitor.h"
#include "support/private_session_bus.h"

namespace {

using desktop::CDesktopNotifier;
using desktop::CScreenSaverInhibitor;
using desktop::Urgency;
using testing_support::CFakeDesktop;
using testing_support::CFakeNotifications;
using testing_support::CFakeScreenSaver;
using testing_support::CPrivateSessionBus;

class DesktopBusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (bus_.address().isEmpty()) GTEST_SKIP() << bus_.skipReason().toStdString();
    ASSERT_TRUE(fakes_.registered());
    client_ = bus_.connect(QStringLiteral("viewer"));
    ASSERT_TRUE(client_.isConnected());
  }
  // Lets the bus deliver: the fakes answer on this thread.
  static void settle(int ms = 200) { QTest::qWait(ms); }

  CPrivateSessionBus bus_;
  CFakeDesktop fakes_{bus_};
  QDBusConnection client_{QString()};
  CFakeScreenSaver& screenSaver() { return fakes_.screenSaver; }
  CFakeNotifications& notifications() { return fakes_.notifications; }
};

// Each acquire and release reaches the desktop once, the cookie handed back is the one given,
// and destruction hands back what is still held.
TEST_F(DesktopBusTest, InhibitAndReleasePairUpWithTheCookie) {
  auto inhibitor = std::make_unique<CScreenSaverInhibitor>(QStringLiteral("PelloxView"), client_);
  inhibitor->inhibit(QStringLiteral("Showing live video"));
  inhibitor->inhibit(QStringLiteral("Showing live video again"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return inhibitor->cookie().has_value(); }, 10000));
  inhibitor->inhibit(QStringLiteral("once more"));
  inhibitor->release();
  inhibitor->release();
  ASSERT_TRUE(QTest::qWaitFor([&] { return screenSaver().calls.size() >= 2; }, 10000));
  settle();
  ASSERT_EQ(screenSaver().calls.size(), 2u);
  EXPECT_EQ(screenSaver().calls[0].appName, QStringLiteral("PelloxView"));
  EXPECT_EQ(screenSaver().calls[0].reason, QStringLiteral("Showing live video"));
  EXPECT_EQ(screenSaver().calls[1].method, QStringLiteral("UnInhibit"));
  EXPECT_EQ(screenSaver().calls[1].cookie, screenSaver().calls[0].cookie);

  inhibitor->inhibit(QStringLiteral("Kiosk"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return inhibitor->cookie().has_value(); }, 10000));
  inhibitor.reset();
  ASSERT_TRUE(QTest::qWaitFor([&] { return screenSaver().count("UnInhibit") == 2; }, 10000));
  EXPECT_NE(screenSaver().calls[2].cookie, screenSaver().calls[0].cookie);
  EXPECT_TRUE(screenSaver().heldCookies().empty());
}

// The desktop answers late: the caller never waits for it, and a release (or the end of the
// inhibitor) before the cookie came still hands the cookie back once it does.
TEST_F(DesktopBusTest, ACookieThatArrivesAfterTheReleaseIsHandedBack) {
  screenSaver().holdReplies = true;
  CScreenSaverInhibitor inhibitor(QStringLiteral("PelloxView"), client_);
  QElapsedTimer clock;
  clock.start();
  inhibitor.inhibit(QStringLiteral("Full screen"));
  EXPECT_LT(clock.elapsed(), 1000);
  ASSERT_TRUE(QTest::qWaitFor([&] { return screenSaver().calls.size() == 1; }, 10000));
  inhibitor.release();
  inhibitor.inhibit(QStringLiteral("Full screen"));  // asked again while the first is on its way
  inhibitor.release();
  screenSaver().answerHeld();
  ASSERT_TRUE(QTest::qWaitFor([&] { return screenSaver().count("UnInhibit") == 1; }, 10000));
  settle();
  EXPECT_EQ(screenSaver().count("Inhibit"), 1);
  EXPECT_TRUE(screenSaver().heldCookies().empty());
  EXPECT_FALSE(inhibitor.cookie().has_value());

  // Asked while on its way and still wanted when it comes: kept.
  inhibitor.inhibit(QStringLiteral("Full screen"));
  inhibitor.release();
  inhibitor.inhibit(QStringLiteral("Full screen"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return screenSaver().count("Inhibit") == 2; }, 10000));
  screenSaver().answerHeld();
  ASSERT_TRUE(QTest::qWaitFor([&] { return inhibitor.cookie().has_value(); }, 10000));
  EXPECT_EQ(screenSaver().heldCookies().size(), 1u);

  {
    CScreenSaverInhibitor gone(QStringLiteral("PelloxView"), client_);
    gone.inhibit(QStringLiteral("Short-lived"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return screenSaver().count("Inhibit") == 3; }, 10000));
  }
  screenSaver().answerHeld();
  ASSERT_TRUE(QTest::qWaitFor([&] { return screenSaver().count("UnInhibit") == 2; }, 10000));
  EXPECT_EQ(screenSaver().heldCookies(), std::vector<uint>{*inhibitor.cookie()});
}

TEST_F(DesktopBusTest, EachNotificationReplacesThePreviousBubble) {
  CDesktopNotifier notifier(QStringLiteral("PelloxView"), QStringLiteral("pelloxview"), client_);
  notifier.notify(QStringLiteral("10.0.0.5 Power off"), QStringLiteral("DVR <a&b>"),
                  Urgency::Critical);
  ASSERT_TRUE(QTest::qWaitFor([&] { return notifier.shownId() != 0; }, 10000));
  notifier.notify(QStringLiteral("user entered into DVR Setup"), QStringLiteral("DVR"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return notifications().calls.size() == 2; }, 10000));

  const auto& first = notifications().calls[0];
  EXPECT_EQ(first.appName, QStringLiteral("PelloxView"));
  EXPECT_EQ(first.replacesId, 0u);
  EXPECT_EQ(first.icon, QStringLiteral("pelloxview"));
  EXPECT_EQ(first.summary, QStringLiteral("10.0.0.5 Power off"));
  EXPECT_EQ(first.body, QStringLiteral("DVR &lt;a&amp;b&gt;"));  // text, never markup
  EXPECT_EQ(first.hints.value(QStringLiteral("urgency")).toInt(), 2);
  EXPECT_EQ(first.expireMs, -1);
  EXPECT_EQ(notifications().calls[1].replacesId, first.id);
  EXPECT_EQ(notifications().calls[1].hints.value(QStringLiteral("urgency")).toInt(), 1);
}

// While the desktop has not given the first bubble's id, what follows waits, and only the newest
// is sent, replacing that bubble.
TEST_F(DesktopBusTest, NotificationsDuringAPendingCallCollapseIntoTheNewest) {
  notifications().holdReplies = true;
  CDesktopNotifier notifier(QStringLiteral("PelloxView"), QStringLiteral("pelloxview"), client_);
  notifier.notify(QStringLiteral("Disconnected."), {});
  ASSERT_TRUE(QTest::qWaitFor([&] { return notifications().calls.size() == 1; }, 10000));
  notifier.notify(QStringLiteral("Power off"), {});
  notifier.notify(QStringLiteral("entered into DVR Setup"), {});
  settle();
  EXPECT_EQ(notifications().calls.size(), 1u);
  notifications().holdReplies = false;
  notifications().answerHeld();
  ASSERT_TRUE(QTest::qWaitFor([&] { return notifications().calls.size() == 2; }, 10000));
  settle();
  ASSERT_EQ(notifications().calls.size(), 2u);
  EXPECT_EQ(notifications().calls[1].summary, QStringLiteral("entered into DVR Setup"));
  EXPECT_EQ(notifications().calls[1].replacesId, notifications().calls[0].id);
}

// A bus without the services: the calls fail quietly, and a later service is used.
TEST_F(DesktopBusTest, ABusWithoutTheServicesIsQuiet) {
  CPrivateSessionBus empty;
  ASSERT_FALSE(empty.address().isEmpty());
  QDBusConnection connection = empty.connect(QStringLiteral("viewer-on-empty-bus"));
  CScreenSaverInhibitor inhibitor(QStringLiteral("PelloxView"), connection);
  CDesktopNotifier notifier(QStringLiteral("PelloxView"), QStringLiteral("pelloxview"), connection);
  inhibitor.inhibit(QStringLiteral("Nobody listens"));
  notifier.notify(QStringLiteral("Nobody reads"), {});
  settle(500);
  EXPECT_TRUE(inhibitor.inhibited());
  EXPECT_FALSE(inhibitor.cookie().has_value());
  EXPECT_EQ(notifier.shownId(), 0u);
  inhibitor.release();
}

}  // namespace

// Without a session bus at all (the address leads nowhere) everything is a quiet no-op, at once.
TEST(DesktopWithoutBus, NothingHappensAndNothingWaits) {
  qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/pelloxview-test-bus");
  QElapsedTimer clock;
  clock.start();
  {
    desktop::CScreenSaverInhibitor inhibitor;
    desktop::CDesktopNotifier notifier;
    inhibitor.inhibit(QStringLiteral("Nothing to talk to"));
    notifier.notify(QStringLiteral("Nothing to show it"), QStringLiteral("body"));
    QTest::qWait(100);
    EXPECT_FALSE(inhibitor.cookie().has_value());
    EXPECT_EQ(notifier.shownId(), 0u);
    inhibitor.release();
  }
  EXPECT_LT(clock.elapsed(), 2000);
}
