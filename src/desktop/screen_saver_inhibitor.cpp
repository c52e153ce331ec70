#include "desktop/screen_saver_inhibitor.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace desktop {
namespace {
const QString kService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kPath = QStringLiteral("/org/freedesktop/ScreenSaver");
const QString kInterface = QStringLiteral("org.freedesktop.ScreenSaver");
// A screensaver that doesn't answer within this long is taken as absent.
constexpr int kCallTimeoutMs = 5000;

// Fire and forget: the caller never waits for the desktop.
void unInhibit(QDBusConnection& bus, uint32_t cookie) {
  if (!bus.isConnected()) return;
  QDBusMessage call =
      QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("UnInhibit"));
  call << cookie;
  bus.send(call);
}

// The cookie of an Inhibit reply; none for an error or a reply of the wrong shape.
std::optional<uint32_t> cookieOf(const QDBusPendingCallWatcher& watcher) {
  const QDBusPendingReply<uint> reply = watcher;
  if (reply.isError() || !reply.isValid()) return std::nullopt;
  return reply.value();
}
}  // namespace

CScreenSaverInhibitor::CScreenSaverInhibitor(const QString& appName, const QDBusConnection& bus)
    : appName_(appName), bus_(bus) {}

CScreenSaverInhibitor::~CScreenSaverInhibitor() {
  release();
  if (pending_ == nullptr) return;
  // The Inhibit still on its way would hold the screen awake for the rest of the process: its
  // cookie is handed back when it arrives, by a watcher that outlives this object.
  QDBusPendingCallWatcher* watcher = pending_;
  pending_ = nullptr;
  disconnect(watcher, nullptr, this, nullptr);
  if (QCoreApplication* app = QCoreApplication::instance()) watcher->setParent(app);
  connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
          [bus = bus_](QDBusPendingCallWatcher* done) mutable {
            if (const auto cookie = cookieOf(*done)) unInhibit(bus, *cookie);
            done->deleteLater();
          });
}

void CScreenSaverInhibitor::inhibit(const QString& reason) {
  wanted_ = true;
  // Held, or asked for: nothing more to do. A call that failed is tried again.
  if (cookie_ || pending_ != nullptr || !bus_.isConnected()) return;
  QDBusMessage call =
      QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Inhibit"));
  call << appName_ << reason;
  pending_ = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCallTimeoutMs), this);
  connect(pending_, &QDBusPendingCallWatcher::finished, this,
          &CScreenSaverInhibitor::onInhibitReply);
}

void CScreenSaverInhibitor::release() {
  wanted_ = false;
  if (!cookie_) return;
  sendUnInhibit(*cookie_);
  cookie_.reset();
}

void CScreenSaverInhibitor::onInhibitReply(QDBusPendingCallWatcher* watcher) {
  if (watcher == pending_) pending_ = nullptr;
  watcher->deleteLater();
  const auto cookie = cookieOf(*watcher);
  if (!cookie) return;  // no screensaver service: nothing to keep awake
  if (wanted_) {
    cookie_ = cookie;
  } else {
    sendUnInhibit(*cookie);  // released while the call was on its way
  }
}

void CScreenSaverInhibitor::sendUnInhibit(uint32_t cookie) {
  unInhibit(bus_, cookie);
}

}  // namespace desktop
