// What the command line makes of the desktop: which runs keep the screen awake for the whole
// session, and that --no-notify leaves the notifications out while the screensaver stays.
#include <gtest/gtest.h>

#include <QTest>

#include "app/desktop_services.h"
#include "support/private_session_bus.h"

namespace {

CommandLineOptions optionsOf(const std::vector<std::string>& args) {
  CommandLineOptions options;
  std::string error;
  EXPECT_TRUE(parseCommandLine(args, &options, &error)) << error;
  return options;
}

// A run that connects by itself or tours is a kiosk; without a display nothing talks to the
// desktop.
TEST(DesktopServices, KioskRunsAndHeadlessRuns) {
  EXPECT_TRUE(
      desktopServicesFor(optionsOf({"--connect", "10.0.0.5"}), true).keepAwakeWhileConnected);
  EXPECT_TRUE(desktopServicesFor(optionsOf({"--tour", "10"}), true).keepAwakeWhileConnected);
  const DesktopServices dialogRun = desktopServicesFor(optionsOf({"--channel", "2"}), true);
  EXPECT_FALSE(dialogRun.keepAwakeWhileConnected);
  EXPECT_EQ(dialogRun.screenSaver, nullptr);
  EXPECT_EQ(dialogRun.notifier, nullptr);
}

TEST(DesktopServices, NoNotifyKeepsTheScreensaverButSendsNothing) {
  testing_support::CPrivateSessionBus bus;
  if (bus.address().isEmpty()) GTEST_SKIP() << bus.skipReason().toStdString();
  testing_support::CFakeDesktop fakes(bus);
  ASSERT_TRUE(fakes.registered());
  const QDBusConnection connection = bus.connect(QStringLiteral("viewer"));

  const DesktopServices quiet = desktopServicesFor(optionsOf({"--no-notify"}), false, connection);
  EXPECT_EQ(quiet.notifier, nullptr);
  ASSERT_NE(quiet.screenSaver, nullptr);
  quiet.screenSaver->inhibit(QStringLiteral("Showing live camera video"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return quiet.screenSaver->cookie().has_value(); }, 10000));

  const DesktopServices told = desktopServicesFor(optionsOf({}), false, connection);
  ASSERT_NE(told.notifier, nullptr);
  told.notifier->notify(QStringLiteral("10.0.0.5 Power off"), QStringLiteral("DVR 10.0.0.5"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return fakes.notifications.calls.size() == 1; }, 10000));
  EXPECT_EQ(fakes.notifications.calls[0].appName, QStringLiteral("PelloxView"));
  EXPECT_EQ(fakes.notifications.calls[0].icon, QStringLiteral("pelloxview"));
}

}  // namespace
