#pragma once
// Keeps the desktop's screensaver and display sleep away while the viewer shows live video, through
// org.freedesktop.ScreenSaver on the session bus: Inhibit(appName, reason) gives a cookie, which
// UnInhibit(cookie) hands back. Without a session bus, or without a screensaver service on it,
// nothing happens and nothing is reported.
//
// Usage (UI thread): inhibit(reason) when the picture becomes what the screen is for, release()
// when it stops being so; both may be called any number of times. Destruction releases.
// Every call is asynchronous: a bus or screensaver that hangs never holds up the caller.
#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>

class QDBusPendingCallWatcher;

namespace desktop {

class CScreenSaverInhibitor final : public QObject {
  Q_OBJECT

 public:
  // bus: the session bus unless a test gives a private one.
  explicit CScreenSaverInhibitor(const QString& appName = QStringLiteral("PelloxView"),
                                 const QDBusConnection& bus = QDBusConnection::sessionBus());
  ~CScreenSaverInhibitor() override;

  CScreenSaverInhibitor(const CScreenSaverInhibitor&) = delete;
  CScreenSaverInhibitor& operator=(const CScreenSaverInhibitor&) = delete;

  // Asks for the screen to stay awake; a second call while asked (or asking) does nothing.
  void inhibit(const QString& reason);
  // Lets the screen sleep again; does nothing when not inhibited. An Inhibit still on its way is
  // handed back as soon as its cookie arrives.
  void release();

  // Asked for and not released (whether or not the desktop has answered yet).
  bool inhibited() const { return wanted_; }
  // The desktop's cookie while it holds the inhibition.
  std::optional<uint32_t> cookie() const { return cookie_; }

 private:
  void onInhibitReply(QDBusPendingCallWatcher* watcher);
  void sendUnInhibit(uint32_t cookie);

  const QString appName_;
  QDBusConnection bus_;
  bool wanted_ = false;
  // The Inhibit call whose reply has not come yet (a child of this object).
  QDBusPendingCallWatcher* pending_ = nullptr;
  std::optional<uint32_t> cookie_;
};

}  // namespace desktop
