#pragma once
// A run of the monitor window (--monitor): builds the window, applies the kiosk options (grid,
// channels, focus, rate cap, page tour, geometry, audio, full screen), connects at start when
// there is a target, logs status texts and messages with -v, and at the quit time saves the
// screenshot and closes the window.
#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <optional>
#include <set>

#include "app/command_line.h"
#include "app/kiosk_session.h"
#include "app/run_outcome.h"

class CMonitorWindow;
class CPictureWriter;
class CWakeWindow;

namespace desktop {
class CDesktopNotifier;
class CScreenSaverInhibitor;
}  // namespace desktop

class CMonitorKiosk final : public QObject {
  Q_OBJECT

 public:
  CMonitorKiosk(CMonitorWindow& window, const CommandLineOptions& options,
                CKioskSession::Target target, CRunOutcome& outcome);
  ~CMonitorKiosk() override;

  // Applies the options and starts the connect (or the Connect dialog) and the quit timer.
  void start();
  // Ends the run now the way the quit time does (a termination signal).
  void endRun();
  // Closes the window for the compact one: no screenshot, no outcome.
  void switchAway();
  // Waits for the screenshot's and the snapshots' files and records how the screenshot went.
  void finishScreenshot();
  const QStringList& statusTexts() const { return statusTexts_; }
  const QString& screenshotPath() const { return screenshotPath_; }

 private:
  void onStatus(const QString& text);
  void onUnavailable(uint32_t mask);
  void focusChannel();
  void quit();
  void saveScreenshot();
  void log(const QString& line) const;
  void saveSnapshot(const QImage& picture, const QString& path);
  void onSnapshotResults();

  CMonitorWindow& window_;
  const CommandLineOptions options_;
  CKioskSession::Target target_;
  CRunOutcome& outcome_;
  bool connectedOnce_ = false;
  bool ending_ = false;
  std::set<int> reported_;  // channels of --channels already reported as not available
  QStringList statusTexts_;
  QString screenshotPath_;
  std::unique_ptr<CPictureWriter> screenshotWriter_;
  std::unique_ptr<CWakeWindow> wake_;               // the snapshots' news, on the UI thread
  std::unique_ptr<CPictureWriter> snapshotWriter_;  // S
  QElapsedTimer screenshotStarted_;
  static constexpr qint64 kScreenshotWaitMs = 3000;
};

// The whole --monitor run once the application exists; returns the exit status. When the user
// asks for the compact window (M), *toCompact gets the DVR to show there (an empty host when
// none was connected). The desktop's services are optional (no display, --no-notify).
int runMonitorWindow(const CommandLineOptions& options, CKioskSession::Target target,
                     std::optional<CKioskSession::Target>* toCompact,
                     desktop::CScreenSaverInhibitor* screenSaver = nullptr,
                     desktop::CDesktopNotifier* notifier = nullptr);
