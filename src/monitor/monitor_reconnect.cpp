#include "monitor/monitor_reconnect.h"

#include "monitor/monitor_window.h"

namespace {
constexpr int kCountdownTickMs = 250;
}  // namespace

CMonitorReconnect::CMonitorReconnect(CMonitorWindow& window) : window_(window) {
  countdown_.setInterval(kCountdownTickMs);
  connect(&countdown_, &QTimer::timeout, this, &CMonitorReconnect::tick);
}

void CMonitorReconnect::setEnabled(bool on) {
  if (!on) cancel();
  if (on == enabled_) return;
  enabled_ = on;
  emit enabledChanged(on);
}

void CMonitorReconnect::setFirstWait(std::chrono::milliseconds wait) {
  policy_ = CReconnectPolicy({}, {}, wait);
}

void CMonitorReconnect::cancel() {
  stopWaiting();
  policy_.reset();
  restorePending_ = false;
  recordingChannel_ = -1;
}

void CMonitorReconnect::stopWaiting() {
  if (!countdown_.isActive()) return;
  countdown_.stop();
  window_.setTileMark(QString());
  // The countdown is not left standing as if it still ran.
  if (window_.statusText() == shown_) window_.showStatus(QStringLiteral("Not connected"));
  shown_.clear();
}

void CMonitorReconnect::onPhaseChanged(int phase) {
  if (static_cast<SessionPhase>(phase) != SessionPhase::Ready) return;
  policy_.onConnected();
  if (!restorePending_) return;
  restorePending_ = false;
  // The recording goes on in a new file; it records the focused tile's channel, so the focus
  // visits that channel's tile for the start.
  const int channel = recordingChannel_;
  recordingChannel_ = -1;
  const int tile = channel >= 0 ? window_.pages().tileOfChannel(channel) : -1;
  if (tile < 0 || window_.recordingChannel() >= 0) return;
  const int focus = window_.focusTile();
  window_.setFocusTile(tile);
  window_.toggleRecording();
  window_.setFocusTile(focus);
}

void CMonitorReconnect::onSessionEnded(int reason) {
  const auto end = static_cast<SessionEnd>(reason);
  // The channel a recording ran on is kept over failed attempts until one gets through.
  if (window_.recordingChannelAtEnd() >= 0) recordingChannel_ = window_.recordingChannelAtEnd();
  // Without a DVR of its own there is nothing to connect to again.
  if (!enabled_ || end == SessionEnd::UserDisconnect || window_.target().address.empty()) {
    cancel();
    return;
  }
  const int16_t loginStatus = window_.session().loginStatus();
  const auto wait = policy_.onSessionEnded(end, loginStatus);
  if (!wait) {
    restorePending_ = false;
    recordingChannel_ = -1;
    if (end == SessionEnd::LoginRefused) emit refusedForGood(loginStatus);
    return;
  }
  attempt_ = policy_.attempt();
  deadline_.setRemainingTime(wait->count());
  restorePending_ = true;
  countdown_.start();
  tick();
}

void CMonitorReconnect::tick() {
  const qint64 left = deadline_.remainingTime();
  if (left <= 0) {
    // The ended session's teardown may still be finishing.
    if (window_.phase() != SessionPhase::Idle) return;
    countdown_.stop();
    window_.setTileMark(QString());
    shown_.clear();
    if (!window_.connectAgain()) cancel();
    return;
  }
  const qint64 seconds = (left + 999) / 1000;
  const QString text = QStringLiteral("%1 Reconnecting in %2 s (attempt %3)")
                           .arg(QString::fromStdString(window_.target().address))
                           .arg(seconds)
                           .arg(attempt_);
  if (text == shown_) return;
  shown_ = text;
  window_.showStatus(text);
  window_.setTileMark(text);
}
