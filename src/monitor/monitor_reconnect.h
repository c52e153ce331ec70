#pragma once
// Connecting the monitor window to its DVR again after a session that ended by itself (a lost
// link or stream, a failed or timed-out connect, a refusal that passes). CReconnectPolicy says
// whether and when; meanwhile the status bar and every tile count the wait down. The window keeps
// its grid, page, channels, focus, enlarged tile, audio and full screen over the gap; a
// recording that the ending stopped starts again in a new file once the DVR is back.
//
// A Connect or Disconnect by the user ends the wait. A refusal that is never retried (a wrong
// account or password) is left on the status bar for the user.
//
// UI thread only.
#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>

#include "session/reconnect_policy.h"

class CMonitorWindow;

class CMonitorReconnect final : public QObject {
  Q_OBJECT

 public:
  explicit CMonitorReconnect(CMonitorWindow& window);

  // Off also ends a wait under way.
  void setEnabled(bool on);
  bool enabled() const { return enabled_; }
  // Scales the policy's waits (tests shorten them); the sequence starts again.
  void setFirstWait(std::chrono::milliseconds wait);
  bool waiting() const { return countdown_.isActive(); }
  // The user took over: no wait, and the next ending starts from the first wait.
  void cancel();

  // Connected to the window by its owner.
  void onPhaseChanged(int phase);
  void onSessionEnded(int reason);

 signals:
  // A login refusal that is never retried; the window waits for the user.
  void refusedForGood(int loginStatus);
  void enabledChanged(bool on);

 private:
  void tick();
  void stopWaiting();

  CMonitorWindow& window_;
  bool enabled_ = true;
  CReconnectPolicy policy_;
  QTimer countdown_;
  QDeadlineTimer deadline_;
  int attempt_ = 0;
  QString shown_;                // the countdown text on screen
  int recordingChannel_ = -1;    // to be recorded again after the reconnect
  bool restorePending_ = false;  // the next "Connected." is a reconnect's
};
