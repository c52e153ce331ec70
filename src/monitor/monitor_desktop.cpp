#include "monitor/monitor_desktop.h"

#include "desktop/desktop_notifier.h"
#include "desktop/screen_saver_inhibitor.h"
#include "monitor/monitor_window.h"

namespace {
const QString kKeepAwakeReason = QStringLiteral("Showing live camera video");
}  // namespace

CMonitorDesktop::CMonitorDesktop(CMonitorWindow& window,
                                 desktop::CScreenSaverInhibitor* screenSaver,
                                 desktop::CDesktopNotifier* notifier)
    : window_(window), screenSaver_(screenSaver), notifier_(notifier) {
  connect(&window_, &CMonitorWindow::phaseChanged, this, &CMonitorDesktop::onPhaseChanged);
  connect(&window_, &CMonitorWindow::noticeShown, this, &CMonitorDesktop::onNotice);
  connect(&window_, &CMonitorWindow::sessionEnded, this, &CMonitorDesktop::onSessionEnded);
  // A closed window shows nothing, whatever its session still finishes.
  connect(&window_, &CMonitorWindow::closed, this, [this] {
    if (screenSaver_ != nullptr) screenSaver_->release();
  });
}

CMonitorDesktop::~CMonitorDesktop() {
  if (screenSaver_ != nullptr) screenSaver_->release();
}

void CMonitorDesktop::onPhaseChanged(int phase) {
  const auto now = static_cast<SessionPhase>(phase);
  if (now == SessionPhase::Connecting) powerOff_ = false;
  if (screenSaver_ == nullptr) return;
  if (now == SessionPhase::Ready && window_.isVisible()) {
    screenSaver_->inhibit(kKeepAwakeReason);
  } else if (now != SessionPhase::Ready) {
    screenSaver_->release();
  }
}

void CMonitorDesktop::onNotice(const QString& text) {
  const bool powerOff = text.endsWith(QStringLiteral(" Power off"));
  if (powerOff) powerOff_ = true;
  notify(text, powerOff);
}

void CMonitorDesktop::onSessionEnded(int reason) {
  const auto end = static_cast<SessionEnd>(reason);
  if (end != SessionEnd::LinkLost && end != SessionEnd::StreamLost) return;
  // The power-off notice's own bubble tells why already.
  if (powerOff_) return;
  // Composed here: a reconnect's countdown may have replaced the status text already.
  notify(QStringLiteral("%1 Disconnected.").arg(QString::fromStdString(window_.target().address)),
         true);
}

void CMonitorDesktop::notify(const QString& summary, bool critical) {
  if (notifier_ == nullptr) return;
  notifier_->notify(summary,
                    QStringLiteral("DVR %1").arg(QString::fromStdString(window_.target().address)),
                    critical ? desktop::Urgency::Critical : desktop::Urgency::Normal);
}
