#include "app/kiosk_session.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "app/control_ids.h"
#include "app/headless.h"
#include "app/picture_writer.h"
#include "app/screenshot_finish.h"
#include "app/viewer_dlg.h"
#include "platform/messages.h"
#include "platform/output_file.h"
#include "protocol/dvr_client.h"
#include "recording/live_tap.h"
#include "ui/channel_button.h"
#include "ui/connect_dlg.h"
#include "ui/control_id.h"

namespace {
// Zeroes a string's characters where no one else shares them, then empties it.
void wipe(QString& text) {
  if (text.isDetached())
    explicit_bzero(text.data(), static_cast<size_t>(text.size()) * sizeof(QChar));
  text.clear();
}
}  // namespace

CKioskSession::CKioskSession(CViewerDlg& window, const CommandLineOptions& options, Target target,
                             CRunOutcome& outcome)
    : window_(window),
      options_(options),
      target_(std::move(target)),
      outcome_(outcome),
      policy_({}, {}, std::chrono::milliseconds(options.reconnectFirstWaitMs)) {
  window_.onStatusText = [this](const QString& text) {
    statusTexts_.append(text);
    log(QStringLiteral("status: ") + text);
  };
  window_.onConnected = [this] { onConnected(); };
  wanted_.channel = options_.channel;
  wanted_.audio = options_.audio;
  wanted_.fullScreen = options_.fullScreen;
  if (options_.reconnect) {
    window_.onSessionEnding = [this](SessionEnd reason, int16_t status) {
      onSessionEnding(reason, status);
    };
    window_.onConnectionCommand = [this](int) { onConnectionCommand(); };
  }
  countdownTimer_.setInterval(250);
  connect(&countdownTimer_, &QTimer::timeout, this, &CKioskSession::reconnectTick);
  connect(&tourTimer_, &QTimer::timeout, this, &CKioskSession::tourStep);
  fullScreenTimer_.setInterval(250);
  connect(&fullScreenTimer_, &QTimer::timeout, this, &CKioskSession::tryFullScreen);
  cameraTimer_.setInterval(100);
  connect(&cameraTimer_, &QTimer::timeout, this, &CKioskSession::tryCameraMove);
  reconnectTimer_.setInterval(50);
  connect(&reconnectTimer_, &QTimer::timeout, this, &CKioskSession::reconnectWhenIdle);
  connectWatch_.setInterval(100);
  connect(&connectWatch_, &QTimer::timeout, this, &CKioskSession::checkConnect);
}

CKioskSession::~CKioskSession() {
  screenshotWriter_.reset();  // a screenshot still being written is abandoned
  wipePassword();
  window_.onStatusText = nullptr;
  window_.onConnected = nullptr;
  window_.onSessionEnding = nullptr;
  window_.onConnectionCommand = nullptr;
  if (&platform::dialogHost() == this) platform::setDialogHost(nullptr);
}

void CKioskSession::log(const QString& line) const {
  if (!options_.verbose) return;
  std::fprintf(stderr, "%s\n", line.toUtf8().constData());
  std::fflush(stderr);
}

void CKioskSession::start() {
  // A run the command line drives never waits on a box; kiosk options alone leave the dialogs to
  // the user.
  if (!target_.host.isEmpty() || options_.quitAfterSeconds > 0 || options_.verbose)
    platform::setDialogHost(this);
  if (!target_.host.isEmpty()) {
    connectPending_ = true;
    QTimer::singleShot(0, &window_, [this] {
      pressConnect();
      // The attempt has its client now, or has failed already.
      connectStarted_ = true;
      if (!options_.connectAgain && !options_.reconnect) wipePassword();
      connectWatch_.start();
      checkConnect();
    });
  }
  if (options_.quitAfterSeconds > 0) {
    QTimer::singleShot(static_cast<int>(options_.quitAfterSeconds * 1000), this,
                       &CKioskSession::quit);
    // The pictures of the session's last second tell a running picture from a frozen one.
    if (options_.diagnostics && options_.quitAfterSeconds > 1) {
      QTimer::singleShot(static_cast<int>((options_.quitAfterSeconds - 1) * 1000), this,
                         [this] { framesMark_ = window_.display().endCount(); });
    }
  }
}

void CKioskSession::pressConnect() {
  connectPending_ = true;
  ownSession_ = true;
  ownCommand_ = true;
  platform::sendMessage(window_.windowId(), msg::kCommand, ctl::kConnect, 0);
  ownCommand_ = false;
}

void CKioskSession::wipePassword() {
  wipe(target_.password);
}

// Until "Connected.", a client that is gone means the first Connect failed (refused, timed out,
// a failed preparation); the run ends there unless it is to connect again.
void CKioskSession::checkConnect() {
  // A window closed by its user or a signal ends the attempt without a verdict on it.
  // With --reconnect a failed attempt is tried again; only the quit time gives a verdict.
  if (connectedOnce_ || outcome_.connectFailed() || ending_ || !window_.isVisible() ||
      options_.reconnect) {
    connectWatch_.stop();
    return;
  }
  if (!connectStarted_ || window_.client() != nullptr) return;
  connectWatch_.stop();
  QString reason = firstMessage_;
  for (qsizetype i = statusTexts_.size() - 1; reason.isEmpty() && i >= 0; --i) {
    if (!statusTexts_[i].endsWith(QStringLiteral(" Connecting..."))) reason = statusTexts_[i];
  }
  outcome_.notConnected(reason);
  if (options_.connectAgain) return;
  ending_ = true;
  stopSteps();
  closeWindow();
}

void CKioskSession::messageBox(QWidget* parent, const QString& text, MessageIcon icon) {
  if (connectStarted_ && !connectedOnce_ && firstMessage_.isEmpty()) firstMessage_ = text;
  messages_.append(text);
  log(QStringLiteral("message: ") + text);
  if (isHeadlessPlatform()) return;
  // A refusal retried every minute would otherwise fill the wall with the same box.
  if (options_.reconnect && lastBox_ != nullptr && lastBox_->text() == text) return;
  // Shown, but never in the way of the run: the box doesn't block.
  auto* box = new QMessageBox(
      icon == MessageIcon::Exclamation ? QMessageBox::Warning : QMessageBox::Information,
      QStringLiteral("PelloxView"), text, QMessageBox::Ok, parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
  lastBox_ = box;
}

int CKioskSession::execDialog(QDialog& dialog) {
  auto* connectDialog = qobject_cast<CConnectDlg*>(&dialog);
  if (connectDialog == nullptr || !connectPending_) {
    // Left open by the user, it would hold the window past the quit time: quit() ends it.
    openDialogs_.emplace_back(&dialog);
    const int result = realHost_.execDialog(dialog);
    openDialogs_.pop_back();
    return result;
  }
  // The Connect dialog answered with the command line's target, through its own Connect button.
  connectPending_ = false;
  connectDialog->initDialog();
  findControl<QComboBox>(connectDialog, CConnectDlg::kAddressId)->setEditText(target_.host);
  findControl<QLineEdit>(connectDialog, CConnectDlg::kPortId)
      ->setText(QString::number(target_.port));
  findControl<QLineEdit>(connectDialog, CConnectDlg::kUserIdId)->setText(target_.user);
  // A copy of its own for the dialog, so that this one can be wiped.
  findControl<QLineEdit>(connectDialog, CConnectDlg::kPasswordId)
      ->setText(QString(target_.password.constData(), target_.password.size()));
  connectDialog->onConnect();
  findControl<QLineEdit>(connectDialog, CConnectDlg::kPasswordId)->clear();
  return connectDialog->result();
}

void CKioskSession::onConnected() {
  if (reconnectStage_ == 2) {
    reconnectDone(true);
    return;
  }
  if (ownSession_) policy_.onConnected();
  const bool first = !connectedOnce_;
  const bool again = reconnecting_;
  reconnecting_ = false;
  if (!first && !again) return;
  connectedOnce_ = true;
  connectWatch_.stop();
  if (again && !wanted_.recording.empty()) {
    // The recording goes on in a file of its own beside the last one.
    window_.recordOnNextPicture(wanted_.recording, platform::ExistingFile::Numbered);
    wanted_.recording.clear();
  }
  showView();
  if (!first) return;
  if (options_.tourSeconds > 0) tourTimer_.start(static_cast<int>(options_.tourSeconds * 1000));
  if (options_.moveCamera) cameraTimer_.start();
}

// Presses the wanted channel and audio on, and goes full screen once the picture runs.
void CKioskSession::showView() {
  const WindowId id = window_.windowId();
  if (wanted_.channel > 0) {
    // Only what a user could press: a channel the DVR masks or lacks is skipped.
    const CChannelButton* button = window_.channelButton(wanted_.channel - 1);
    if (button != nullptr && button->isEnabled()) {
      platform::sendMessage(id, msg::kCommand,
                            static_cast<uintptr_t>(ctl::kFirstChannel + wanted_.channel - 1), 0);
    } else {
      std::fprintf(stderr, "pelloxview: channel %d is not available on this DVR; not shown\n",
                   wanted_.channel);
      std::fflush(stderr);
    }
  }
  if (wanted_.audio) platform::sendMessage(id, msg::kCommand, ctl::kAudioOn, 0);
  if (wanted_.fullScreen) fullScreenTimer_.start();
}

// A session of the kiosk's own ends: what it showed is noted now, while the window still shows
// it; whether and when to connect again is decided once the teardown is over.
void CKioskSession::onSessionEnding(SessionEnd reason, int16_t loginStatus) {
  if (!ownSession_ || ending_) return;
  ownSession_ = false;
  if (window_.isConnected()) {
    wanted_.channel = window_.shownChannel() >= 0 ? window_.shownChannel() + 1 : 0;
    wanted_.audio = window_.audioOn();
    wanted_.fullScreen = window_.fullScreen();
    const CLiveTap* tap = window_.liveTap();
    wanted_.recording = tap != nullptr && tap->recording() ? tap->recordingPath() : std::string();
  }
  endPending_ = true;
  QTimer::singleShot(0, this,
                     [this, reason, loginStatus] { afterSessionEnded(reason, loginStatus); });
}

void CKioskSession::afterSessionEnded(SessionEnd reason, int16_t loginStatus) {
  // Not when the run ends, or the user took over meanwhile.
  if (ending_ || !endPending_) return;
  endPending_ = false;
  const auto wait = policy_.onSessionEnded(reason, loginStatus);
  if (!wait) {
    if (reason == SessionEnd::LoginRefused) {
      // Another try could lock the account: the user decides.
      std::fprintf(stderr, "pelloxview: %s refused the login (status %d); not reconnecting\n",
                   target_.host.toUtf8().constData(), loginStatus);
      std::fflush(stderr);
    }
    return;
  }
  waitAttempt_ = policy_.attempt();
  waitDeadline_.setRemainingTime(wait->count());
  window_.setReconnectWaiting(true);
  countdownTimer_.start();
  reconnectTick();
}

// Counts the wait down on the status line (again after any other text, such as a recording's
// "Saved ..."), then connects.
void CKioskSession::reconnectTick() {
  if (ending_) {
    cancelReconnectWait();
    return;
  }
  const qint64 left = waitDeadline_.remainingTime();
  if (left <= 0) {
    cancelReconnectWait();
    reconnecting_ = true;
    pressConnect();
    return;
  }
  window_.showStatusText(QStringLiteral("%1 Reconnecting in %2 s (attempt %3)")
                             .arg(target_.host)
                             .arg((left + 999) / 1000)
                             .arg(waitAttempt_));
}

void CKioskSession::cancelReconnectWait() {
  if (!countdownTimer_.isActive()) return;
  countdownTimer_.stop();
  window_.setReconnectWaiting(false);
}

// A Connect or Disconnect that isn't the kiosk's own (the user's, or the window's close): the
// user takes over, and no wait goes on.
void CKioskSession::onConnectionCommand() {
  if (ownCommand_) return;
  if (countdownTimer_.isActive()) window_.showStatusText(QString());
  cancelReconnectWait();
  policy_.reset();
  ownSession_ = false;
  endPending_ = false;
  reconnecting_ = false;
}

// The next enabled channel after the shown one, pressed like its button.
void CKioskSession::tourStep() {
  // Never into a switch that is still under way (timer 400 runs until it completes).
  if (window_.client() == nullptr || window_.timerRunning(timers::kSwitchTimeout)) return;
  const int from = window_.shownChannel() >= 0 ? window_.shownChannel() : window_.selectedChannel();
  for (int step = 1; step <= kChannelCount; ++step) {
    const int channel = (from + step + kChannelCount) % kChannelCount;
    CChannelButton* button = window_.channelButton(channel);
    if (button == nullptr || !button->isEnabled() || channel == window_.shownChannel()) continue;
    platform::sendMessage(window_.windowId(), msg::kCommand,
                          static_cast<uintptr_t>(ctl::kFirstChannel + channel), 0);
    return;
  }
}

void CKioskSession::tryFullScreen() {
  if (window_.fullScreen()) {
    fullScreenTimer_.stop();
    return;
  }
  if (window_.shownChannel() < 0 || !window_.displayReady() || !window_.liveReady()) return;
  fullScreenTimer_.stop();
  // A tap in the picture area, the way a user opens full screen (runs until it is left).
  window_.tapWindow(QPoint(120, 100));
}

// Once a picture shows, the camera-up key is held for 300 ms, the way a user nudges a camera.
void CKioskSession::tryCameraMove() {
  if (window_.shownChannel() < 0 || !window_.liveReady()) return;
  cameraTimer_.stop();
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
  QCoreApplication::sendEvent(&window_, &press);
  QTimer::singleShot(300, &window_, [this] {
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Up, Qt::NoModifier);
    QCoreApplication::sendEvent(&window_, &release);
  });
}

// Saves the window as PNG: never through a link, never over an existing file unless --overwrite,
// private to the user. The window is grabbed here; the file is written on a thread of its own
// (see finishScreenshot), so storage that stopped answering never holds up the quit.
void CKioskSession::saveScreenshot() {
  if (options_.screenshot.empty() || screenshotWriter_) return;
  screenshotWriter_ = std::make_unique<CPictureWriter>();
  screenshotStarted_.start();
  screenshotWriter_->save(
      window_.grabWindow(), options_.screenshot,
      options_.overwrite ? platform::ExistingFile::Replace : platform::ExistingFile::Refuse, false);
}

void CKioskSession::finishScreenshot() {
  if (!screenshotWriter_) return;
  const QString saved = finishScreenshotFile(*screenshotWriter_, options_.screenshot,
                                             screenshotStarted_, kScreenshotWaitMs, outcome_);
  if (!saved.isEmpty()) screenshotPath_ = saved;
  screenshotWriter_.reset();
}

void CKioskSession::stopSteps() {
  tourTimer_.stop();
  fullScreenTimer_.stop();
  cameraTimer_.stop();
  for (auto it = openDialogs_.rbegin(); it != openDialogs_.rend(); ++it) {
    if (*it != nullptr && *it != &window_.fullScreenDialog()) (*it)->reject();
  }
  window_.leaveFullScreen();
}

void CKioskSession::endRun() {
  if (ending_) return;
  ending_ = true;
  reconnectTimer_.stop();
  cancelReconnectWait();
  saveScreenshot();
  stopSteps();
  closeWindow();
}

void CKioskSession::quit() {
  if (ending_) return;
  cancelReconnectWait();
  // A scripted run whose time is up before "Connected." never got its session.
  if (!target_.host.isEmpty() && !connectedOnce_) {
    const QString last = statusTexts_.isEmpty() ? QString() : statusTexts_.last();
    outcome_.notConnected(QStringLiteral("no \"Connected.\" within %1 s%2")
                              .arg(options_.quitAfterSeconds)
                              .arg(last.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(last)));
  }
  saveScreenshot();
  stopSteps();
  if (options_.diagnostics) {
    // What the first session showed up to now is what its faults left.
    std::fprintf(stderr, "diagnostics: frames-last-second=%llu\n",
                 static_cast<unsigned long long>(window_.display().endCount() - framesMark_));
    std::fprintf(stderr, "diagnostics: session-end\n");
    std::fflush(stderr);
  }
  if (options_.connectAgain && !target_.host.isEmpty() && reconnectStage_ == 0) {
    // The first session ends the way a user ends it, then the same DVR is connected once more.
    reconnectStage_ = 1;
    reconnectClock_.start();
    if (window_.client() != nullptr) {
      platform::sendMessage(window_.windowId(), msg::kCommand, ctl::kDisconnect, 0);
    }
    reconnectTimer_.start();
    return;
  }
  ending_ = true;
  closeWindow();
}

void CKioskSession::closeWindow() {
  QTimer::singleShot(0, &window_, [this] {
    // An open Connect dialog (a run without --connect) would hold the close back for good.
    if (window_.connectDialog().isVisible()) window_.connectDialog().reject();
    window_.close();
  });
}

void CKioskSession::reconnectWhenIdle() {
  constexpr qint64 kDisconnectWaitMs = 3000;
  constexpr qint64 kConnectWaitMs = 5000;
  if (reconnectStage_ == 1) {
    // The orderly disconnect gets a while for the DVR's replies; a Connect replaces what is left.
    if (window_.client() != nullptr && reconnectClock_.elapsed() < kDisconnectWaitMs) return;
    reconnectStage_ = 2;
    reconnectClock_.restart();
    connectPending_ = true;
    platform::sendMessage(window_.windowId(), msg::kCommand, ctl::kConnect, 0);
    return;
  }
  if (reconnectStage_ == 2 && reconnectClock_.elapsed() >= kConnectWaitMs) reconnectDone(false);
}

void CKioskSession::reconnectDone(bool ok) {
  reconnectStage_ = 3;
  reconnectTimer_.stop();
  std::fprintf(stderr, "diagnostics: reconnect=%s\n", ok ? "ok" : "failed");
  std::fflush(stderr);
  closeWindow();
}
