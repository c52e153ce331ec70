#include "app/desktop_services.h"

DesktopServices desktopServicesFor(const CommandLineOptions& options, bool headless,
                                   const std::optional<QDBusConnection>& bus) {
  DesktopServices services;
  // A run the command line starts or keeps going unattended is a kiosk: its screen stays awake
  // for the whole session, not only in full screen.
  services.keepAwakeWhileConnected =
      !options.host.empty() || options.demo || options.fullScreen || options.tourSeconds > 0;
  // Without a display there is neither a screen to keep awake nor a user to tell.
  if (headless) return services;
  const QDBusConnection connection = bus.value_or(QDBusConnection::sessionBus());
  services.screenSaver =
      std::make_unique<desktop::CScreenSaverInhibitor>(QStringLiteral("PelloxView"), connection);
  if (!options.noNotify) {
    services.notifier = std::make_unique<desktop::CDesktopNotifier>(
        QStringLiteral("PelloxView"), QStringLiteral("pelloxview"), connection);
  }
  return services;
}
