#pragma once
// The desktop services a run of the viewer uses, chosen from its command line: a screensaver
// inhibitor on a desktop, a notifier unless --no-notify, and whether the run is a kiosk whose
// screen stays awake for the whole session. Runs without a display get none of them.
#include <QDBusConnection>

#include <memory>
#include <optional>

#include "app/command_line.h"
#include "desktop/desktop_notifier.h"
#include "desktop/screen_saver_inhibitor.h"

struct DesktopServices {
  std::unique_ptr<desktop::CScreenSaverInhibitor> screenSaver;
  std::unique_ptr<desktop::CDesktopNotifier> notifier;
  bool keepAwakeWhileConnected = false;
};

// bus: the session bus unless given; it is not touched for a run without a display.
DesktopServices desktopServicesFor(const CommandLineOptions& options, bool headless,
                                   const std::optional<QDBusConnection>& bus = std::nullopt);
