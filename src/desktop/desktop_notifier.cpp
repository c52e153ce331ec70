#include "desktop/desktop_notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace desktop {
namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
constexpr int kCallTimeoutMs = 5000;

// Bodies may be read as markup: what is only text stays text.
QString escapeMarkup(const QString& text) {
  QString escaped;
  escaped.reserve(text.size());
  for (const QChar c : text) {
    if (c == u'&') {
      escaped += QStringLiteral("&amp;");
    } else if (c == u'<') {
      escaped += QStringLiteral("&lt;");
    } else if (c == u'>') {
      escaped += QStringLiteral("&gt;");
    } else {
      escaped += c;
    }
  }
  return escaped;
}
}  // namespace

CDesktopNotifier::CDesktopNotifier(const QString& appName, const QString& iconName,
                                   const QDBusConnection& bus)
    : appName_(appName), iconName_(iconName), bus_(bus) {}

// A call still on its way is dropped with its watcher (a child of this object).
CDesktopNotifier::~CDesktopNotifier() = default;

void CDesktopNotifier::notify(const QString& summary, const QString& body, Urgency urgency,
                              int expireMs) {
  if (!bus_.isConnected()) return;
  Notification notification{summary, body, urgency, expireMs};
  if (pending_ != nullptr) {
    // Replaces the bubble the pending call opens, once its id is known.
    next_ = std::move(notification);
    return;
  }
  send(notification);
}

void CDesktopNotifier::send(const Notification& notification) {
  QDBusMessage call =
      QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
  QVariantMap hints;
  hints.insert(QStringLiteral("urgency"),
               QVariant::fromValue(static_cast<uchar>(notification.urgency)));
  call << appName_ << static_cast<uint>(shownId_) << iconName_ << notification.summary
       << escapeMarkup(notification.body) << QStringList() << hints
       << static_cast<int>(notification.expireMs);
  pending_ = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCallTimeoutMs), this);
  connect(pending_, &QDBusPendingCallWatcher::finished, this, &CDesktopNotifier::onNotifyReply);
}

void CDesktopNotifier::onNotifyReply(QDBusPendingCallWatcher* watcher) {
  if (watcher == pending_) pending_ = nullptr;
  watcher->deleteLater();
  const QDBusPendingReply<uint> reply = *watcher;
  if (!reply.isError() && reply.isValid()) shownId_ = reply.value();
  if (next_) {
    const Notification notification = std::move(*next_);
    next_.reset();
    send(notification);
  }
}

}  // namespace desktop
