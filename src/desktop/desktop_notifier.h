#pragma once
// Desktop notifications through org.freedesktop.Notifications on the session bus. Each notifier
// keeps one bubble: a new notification replaces the previous one (replaces_id), so a link that
// comes and goes doesn't pile bubbles up on the desktop. Without a session bus or a notification
// service, nothing happens and nothing is reported.
//
// Usage (UI thread): notify(summary, body). Calls are asynchronous; while the desktop has not yet
// answered one, only the newest of the notifications that follow is kept and sent after it.
#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>

class QDBusPendingCallWatcher;

namespace desktop {

enum class Urgency : uint8_t { Low = 0, Normal = 1, Critical = 2 };

class CDesktopNotifier final : public QObject {
  Q_OBJECT

 public:
  static constexpr int kDefaultExpiry = -1;  // the desktop's own choice

  // iconName: a themed icon (the installed desktop entry's icon by default).
  explicit CDesktopNotifier(const QString& appName = QStringLiteral("PelloxView"),
                            const QString& iconName = QStringLiteral("pelloxview"),
                            const QDBusConnection& bus = QDBusConnection::sessionBus());
  ~CDesktopNotifier() override;

  CDesktopNotifier(const CDesktopNotifier&) = delete;
  CDesktopNotifier& operator=(const CDesktopNotifier&) = delete;

  // summary is plain text; body may be shown with the desktop's simple markup, so it is sent
  // with <, > and & escaped. expireMs: -1 the desktop's default, 0 until dismissed.
  void notify(const QString& summary, const QString& body, Urgency urgency = Urgency::Normal,
              int expireMs = kDefaultExpiry);

  // The desktop's id of the bubble shown last (0: none yet).
  uint32_t shownId() const { return shownId_; }

 private:
  struct Notification {
    QString summary;
    QString body;
    Urgency urgency = Urgency::Normal;
    int expireMs = kDefaultExpiry;
  };
  void send(const Notification& notification);
  void onNotifyReply(QDBusPendingCallWatcher* watcher);

  const QString appName_;
  const QString iconName_;
  QDBusConnection bus_;
  uint32_t shownId_ = 0;
  QDBusPendingCallWatcher* pending_ = nullptr;  // the Notify on its way (a child of this)
  std::optional<Notification> next_;            // waits for the pending call's id
};

}  // namespace desktop
