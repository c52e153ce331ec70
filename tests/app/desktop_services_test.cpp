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

TEST(DesktopServices, KioskRunsStayAwakeForTheWholeSession) {
  const std::vector<std::pair<std::vector<std::string>, bool>> cases = {
      {{}, false},
      {{"--channel", "2", "--audio"}, false},
      {{"--connect", "10.0.0.5"}, true},
      {{"--demo"}, true},
      {{"--fullscreen"}, true},
      {{"--tour", "10"}, true},
  };
  for (const auto& [args, kiosk] : cases) {
    const DesktopServices services = desktopServicesFor(optionsOf(args), true);
    EXPECT_EQ(services.keepAwakeWhileConnected, kiosk) << (args.empty() ? "" : args[0]);
    // Without a display nothing talks to the desktop.
    EXPECT_EQ(services.screenSaver, nullptr);
    EXPECT_EQ(services.notifier, nullptr);
  }
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
  ASSERT_TRUE(QTest::qWaitFor([&] { return quiet.screenSaver->cookie().has_value(); }, 3000));

  const DesktopServices told = desktopServicesFor(optionsOf({}), false, connection);
  ASSERT_NE(told.notifier, nullptr);
  told.notifier->notify(QStringLiteral("10.0.0.5 Power off"), QStringLiteral("DVR 10.0.0.5"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return fakes.notifications.calls.size() == 1; }, 3000));
  EXPECT_EQ(fakes.notifications.calls[0].appName, QStringLiteral("PelloxView"));
  EXPECT_EQ(fakes.notifications.calls[0].icon, QStringLiteral("pelloxview"));
}

}  // namespace
