// The monitor window and the desktop's session bus: the screen kept awake while live video is
// shown, and the DVR's notices and a lost link as notifications. A private bus with fake desktop
// services records every call.
#include <QDBusConnection>

#include <memory>

#include "desktop/desktop_notifier.h"
#include "desktop/screen_saver_inhibitor.h"
#include "monitor/monitor_desktop.h"
#include "monitor/monitor_reconnect.h"
#include "monitor_e2e/monitor_fixture.h"
#include "support/private_session_bus.h"

namespace monitor_e2e {
namespace {

using testing_support::CFakeDesktop;
using testing_support::CPrivateSessionBus;

class MonitorDesktopTest : public MonitorTest {
 protected:
  void SetUp() override {
    if (bus_.address().isEmpty()) GTEST_SKIP() << bus_.skipReason().toStdString();
    ASSERT_TRUE(fakes_.registered());
    MonitorTest::SetUp();
    const QDBusConnection connection = bus_.connect(QStringLiteral("monitor"));
    inhibitor_ =
        std::make_unique<desktop::CScreenSaverInhibitor>(QStringLiteral("PelloxView"), connection);
    notifier_ = std::make_unique<desktop::CDesktopNotifier>(
        QStringLiteral("PelloxView"), QStringLiteral("pelloxview"), connection);
  }
  void TearDown() override {
    desktop_.reset();
    MonitorTest::TearDown();
  }
  void attach() {
    desktop_ = std::make_unique<CMonitorDesktop>(window(), inhibitor_.get(), notifier_.get());
  }
  bool waitForCalls(const QString& method, int n) {
    return waitFor([&] { return fakes_.screenSaver.count(method) == n; });
  }
  std::vector<QString> summaries() const {
    std::vector<QString> found;
    for (const auto& call : fakes_.notifications.calls) found.push_back(call.summary);
    return found;
  }

  CPrivateSessionBus bus_;
  CFakeDesktop fakes_{bus_};
  std::unique_ptr<desktop::CScreenSaverInhibitor> inhibitor_;
  std::unique_ptr<desktop::CDesktopNotifier> notifier_;
  std::unique_ptr<CMonitorDesktop> desktop_;
};

// Awake from "Connected." on, asleep again after a Disconnect, a lost link and at the end.
TEST_F(MonitorDesktopTest, TheScreenStaysAwakeWhileLiveAndSleepsWhenTheVideoEnds) {
  start();
  window().reconnect().setFirstWait(std::chrono::milliseconds(200));
  attach();
  connectAndWait();
  ASSERT_TRUE(waitForCalls("Inhibit", 1));
  EXPECT_EQ(fakes_.screenSaver.calls[0].appName, QStringLiteral("PelloxView"));
  EXPECT_FALSE(fakes_.screenSaver.calls[0].reason.isEmpty());
  window().disconnectSession();
  ASSERT_TRUE(waitForCalls("UnInhibit", 1));
  EXPECT_TRUE(fakes_.screenSaver.heldCookies().empty());
  ASSERT_TRUE(waitFor([&] { return window().phase() == SessionPhase::Idle; }));

  // A lost link lets the screen sleep; the reconnect keeps it awake again.
  connectAndWait();
  ASSERT_TRUE(waitForCalls("Inhibit", 2));
  command("drop all");
  ASSERT_TRUE(waitForCalls("UnInhibit", 2));
  ASSERT_TRUE(waitForCalls("Inhibit", 3)) << window().statusText().toStdString();
  EXPECT_EQ(window().phase(), SessionPhase::Ready);

  // The window's end releases what its session held.
  window().close();
  ASSERT_TRUE(waitForCalls("UnInhibit", 3));
  EXPECT_TRUE(fakes_.screenSaver.heldCookies().empty());
}

TEST_F(MonitorDesktopTest, NoticesAndALostLinkAreNotified) {
  start();
  window().reconnect().setEnabled(false);
  attach();
  connectAndWait();
  command("notice setup user");
  command("notice leave admin");
  ASSERT_TRUE(waitFor([&] { return fakes_.notifications.calls.size() == 2; }));
  command("drop control");
  ASSERT_TRUE(waitFor([&] { return fakes_.notifications.calls.size() == 3; }));
  EXPECT_EQ(summaries(), (std::vector<QString>{QStringLiteral("user entered into DVR Setup"),
                                               QStringLiteral("admin get out of DVR Setup"),
                                               QStringLiteral("127.0.0.1 Disconnected.")}));
  EXPECT_EQ(fakes_.notifications.calls[2].body, QStringLiteral("DVR 127.0.0.1"));
  EXPECT_EQ(fakes_.notifications.calls[2].hints.value(QStringLiteral("urgency")).toInt(), 2);

  // A power-off's own bubble says why the link goes: no second one for the loss.
  connectAndWait();
  command("notice power");
  ASSERT_TRUE(waitFor([&] { return fakes_.notifications.calls.size() == 4; }));
  EXPECT_EQ(fakes_.notifications.calls[3].summary, QStringLiteral("127.0.0.1 Power off"));
  command("drop control");
  ASSERT_TRUE(waitFor([&] { return window().phase() == SessionPhase::Idle; }));
  waitFor([] { return false; }, 300);
  EXPECT_EQ(fakes_.notifications.calls.size(), 4u);
}

}  // namespace
}  // namespace monitor_e2e
