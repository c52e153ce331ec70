#pragma once
// The desktop around the monitor window: the screen stays awake while the window shows live
// video, and the DVR's notices (power off, setup entered or left) and a lost link become desktop
// notifications, whatever window is active: a wall of cameras is watched from across the room.
// Either service may be absent (no display, --no-notify).
//
// UI thread only.
#include <QObject>

class CMonitorWindow;

namespace desktop {
class CDesktopNotifier;
class CScreenSaverInhibitor;
}  // namespace desktop

class CMonitorDesktop final : public QObject {
  Q_OBJECT

 public:
  CMonitorDesktop(CMonitorWindow& window, desktop::CScreenSaverInhibitor* screenSaver,
                  desktop::CDesktopNotifier* notifier);
  // Lets the screen sleep again.
  ~CMonitorDesktop() override;

  CMonitorDesktop(const CMonitorDesktop&) = delete;
  CMonitorDesktop& operator=(const CMonitorDesktop&) = delete;

 private:
  void onPhaseChanged(int phase);
  void onNotice(const QString& text);
  void onSessionEnded(int reason);
  void notify(const QString& summary, bool critical);

  CMonitorWindow& window_;
  desktop::CScreenSaverInhibitor* screenSaver_;
  desktop::CDesktopNotifier* notifier_;
  bool powerOff_ = false;  // the session's power-off notice was told already
};
