#include "app/kiosk_session.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>

#include <cstdio>

#include "app/control_ids.h"
#include "app/headless.h"
#include "app/viewer_dlg.h"
#include "platform/messages.h"
#include "platform/output_file.h"
#include "protocol/dvr_client.h"
#include "ui/channel_button.h"
#include "ui/connect_dlg.h"
#include "ui/control_id.h"

CKioskSession::CKioskSession(CViewerDlg& window, const CommandLineOptions& options, Target target)
    : window_(window), options_(options), target_(std::move(target)) {
  window_.onStatusText = [this](const QString& text) {
    statusTexts_.append(text);
    log(QStringLiteral("status: ") + text);
  };
  window_.onConnected = [this] { onConnected(); };
  connect(&tourTimer_, &QTimer::timeout, this, &CKioskSession::tourStep);
  fullScreenTimer_.setInterval(250);
  connect(&fullScreenTimer_, &QTimer::timeout, this, &CKioskSession::tryFullScreen);
  cameraTimer_.setInterval(100);
  connect(&cameraTimer_, &QTimer::timeout, this, &CKioskSession::tryCameraMove);
  reconnectTimer_.setInterval(50);
  connect(&reconnectTimer_, &QTimer::timeout, this, &CKioskSession::reconnectWhenIdle);
}

CKioskSession::~CKioskSession() {
  window_.onStatusText = nullptr;
  window_.onConnected = nullptr;
  if (&platform::dialogHost() == this) platform::setDialogHost(nullptr);
}

void CKioskSession::log(const QString& line) const {
  if (!options_.verbose) return;
  std::fprintf(stderr, "%s\n", line.toUtf8().constData());
  std::fflush(stderr);
}

void CKioskSession::start() {
  platform::setDialogHost(this);
  if (!target_.host.isEmpty()) {
    connectPending_ = true;
    QTimer::singleShot(0, &window_, [this] {
      platform::sendMessage(window_.windowId(), msg::kCommand, ctl::kConnect, 0);
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

void CKioskSession::messageBox(QWidget* parent, const QString& text, MessageIcon icon) {
  messages_.append(text);
  log(QStringLiteral("message: ") + text);
  if (isHeadlessPlatform()) return;
  // Shown, but never in the way of the run: the box doesn't block.
  auto* box = new QMessageBox(
      icon == MessageIcon::Exclamation ? QMessageBox::Warning : QMessageBox::Information,
      QStringLiteral("PelloxView"), text, QMessageBox::Ok, parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
}

int CKioskSession::execDialog(QDialog& dialog) {
  auto* connectDialog = qobject_cast<CConnectDlg*>(&dialog);
  if (connectDialog == nullptr || !connectPending_) return realHost_.execDialog(dialog);
  // The Connect dialog answered with the command line's target, through its own Connect button.
  connectPending_ = false;
  connectDialog->initDialog();
  findControl<QComboBox>(connectDialog, CConnectDlg::kAddressId)->setEditText(target_.host);
  findControl<QLineEdit>(connectDialog, CConnectDlg::kPortId)
      ->setText(QString::number(target_.port));
  findControl<QLineEdit>(connectDialog, CConnectDlg::kUserIdId)->setText(target_.user);
  findControl<QLineEdit>(connectDialog, CConnectDlg::kPasswordId)->setText(target_.password);
  connectDialog->onConnect();
  findControl<QLineEdit>(connectDialog, CConnectDlg::kPasswordId)->clear();
  return connectDialog->result();
}

void CKioskSession::onConnected() {
  if (reconnectStage_ == 2) {
    reconnectDone(true);
    return;
  }
  if (connectedOnce_) return;
  connectedOnce_ = true;
  const WindowId id = window_.windowId();
  if (options_.channel > 0) {
    platform::sendMessage(id, msg::kCommand,
                          static_cast<uintptr_t>(ctl::kFirstChannel + options_.channel - 1), 0);
  }
  if (options_.audio) platform::sendMessage(id, msg::kCommand, ctl::kAudioOn, 0);
  if (options_.tourSeconds > 0) tourTimer_.start(static_cast<int>(options_.tourSeconds * 1000));
  if (options_.fullScreen) fullScreenTimer_.start();
  if (options_.moveCamera) cameraTimer_.start();
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

void CKioskSession::quit() {
  if (!options_.screenshot.empty()) {
    const QString path = QString::fromStdString(options_.screenshot);
    if (saveScreenshot(window_.grabWindow(), path)) screenshotPath_ = path;
  }
  tourTimer_.stop();
  fullScreenTimer_.stop();
  cameraTimer_.stop();
  window_.leaveFullScreen();
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
  closeWindow();
}

// Never through a link, never over an existing file unless --overwrite, private to the user.
bool CKioskSession::saveScreenshot(const QImage& image, const QString& path) const {
  platform::COutputFile created = platform::createOutputFile(
      QFile::encodeName(path).toStdString(),
      options_.overwrite ? platform::ExistingFile::Replace : platform::ExistingFile::Refuse);
  if (!created.isOpen()) {
    std::fprintf(stderr, "pelloxview: %s\n", created.error().c_str());
    return false;
  }
  QFile file;
  const bool saved =
      file.open(created.release(), QIODevice::WriteOnly, QFileDevice::AutoCloseHandle) &&
      image.save(&file, "PNG") && file.flush();
  file.close();
  return saved && file.error() == QFileDevice::NoError;
}

void CKioskSession::closeWindow() {
  QTimer::singleShot(0, &window_, [this] { window_.close(); });
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
