// The main window's construction, initialisation, message table, timers, painting and close.
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "app/control_ids.h"
#include "app/picture_writer.h"
#include "app/status_line.h"
#include "app/viewer_dlg.h"
#include "audio/audio_dlg.h"
#include "desktop/screen_saver_inhibitor.h"
#include "platform/dialog_host.h"
#include "platform/messages.h"
#include "protocol/dvr_client.h"
#include "recording/live_tap.h"
#include "ui/address_book_dlg.h"
#include "ui/connect_dlg.h"
#include "ui/hover_button.h"
#include "ui/skin_artwork.h"
#include "ui/skin_slider.h"
#include "video/codec/video_codec_library.h"
#include "video/frame_renderer.h"
#include "video/video_decoder.h"

namespace {
const QString kOnly16Bit = QStringLiteral("Sorry, only supporting 16bit color.");
}  // namespace

CViewerDlg::CViewerDlg(const Services& services, QWidget* parent)
    : QDialog(parent),
      services_(services),
      display_(*services.displayBackend),
      connectDialog_(std::make_unique<CConnectDlg>(this)),
      addressBookDialog_(std::make_unique<CAddressBookDlg>(this)),
      videoDecoder_(std::make_unique<CVideoDecoder>(
          display_, services.codecLibrary ? *services.codecLibrary : videoCodecLibrary())),
      frameRenderer_(std::make_unique<CFrameRenderer>(display_)),
      fullScreenDialog_(std::make_unique<QDialog>(this)) {
  setWindowTitle(QStringLiteral("PelloxView"));
  setAttribute(Qt::WA_OpaquePaintEvent);
  fullScreenDialog_->setWindowTitle(QStringLiteral("PelloxView"));
  fullScreenDialog_->setStyleSheet(QStringLiteral("background: black"));
  createControls();
}

CViewerDlg::~CViewerDlg() {
  // Nothing may reach a half-destroyed window: no timers, sends or posts from here on.
  destroyed_ = true;
  unregisterWindow();
  platform::setMessageFilter(nullptr);
  // The queue stops first, so no reply is delivered while the client's threads are joined.
  replyQueue_.stop();
  if (client_) {
    client_->disconnectControl();
    client_.reset();
  }
  // The screen may sleep again whatever the window was showing.
  if (services_.screenSaver != nullptr) services_.screenSaver->release();
  liveTap_.reset();         // closes a running recording
  snapshotWriter_.reset();  // abandons a snapshot still being saved
  display_.GXCloseDisplay();
}

bool CViewerDlg::initDialog() {
  setWindowIcon(QIcon(QPixmap::fromImage(skin::bitmap(skin::kBackground).copy(0, 0, 32, 32))));
  audioOn_ = false;
  channelButtonCount_ = 16;
  shownChannel_ = -1;
  selectedChannel_ = 0;
  fullScreen_ = false;
  displayReady_ = true;
  liveReady_ = true;
  pressedButton_ = nullptr;
  viewOption_ = 1;

  openDisplay();
  if (!videoDecoder_->bind(0, this) || !frameRenderer_->bind(0, this)) return false;
  if (!replyQueue_.start(windowId())) return false;

  audioWindow_ = std::make_unique<CAudioDlg>(services_.waveOut);
  liveTap_ = std::make_unique<CLiveTap>(*videoDecoder_, *frameRenderer_, audioWindow_->player());
  liveTap_->setRecordingEventHandler([window = windowId()](const recording::RecordingStats&) {
    platform::postMessage(window, msg::kRecordingEnded, 0, 0);
  });
  snapshotWriter_ = std::make_unique<CPictureWriter>(
      [window = windowId()] { platform::postMessage(window, msg::kSnapshotSaved, 0, 0); },
      services_.createSnapshotFile);
  applyLayout(0);
  setUpSkins();
  setControlEnabled(ctl::kConnect, true);
  setControlVisible(ctl::kConnect, true);
  setControlEnabled(ctl::kDisconnect, false);
  setControlVisible(ctl::kDisconnect, false);
  readDeviceVolume();
  platform::setMessageFilter(this);
  platform::setMainWindow(windowId());
  return true;
}

// Opens the display for this window; it must draw 16 bits per pixel.
bool CViewerDlg::openDisplay() {
  if (display_.GXOpenDisplay(this, 0) == 0) {
    display_.GXCloseDisplay();
    return false;
  }
  displayProperties_ = display_.GXGetDisplayProperties();
  if (displayProperties_.cBPP == 16) {
    placeDisplay();
    return true;
  }
  display_.GXCloseDisplay();
  showMessage(kOnly16Bit);
  return false;
}

int CViewerDlg::onMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  if (destroyed_) return kRefused;
  switch (msg) {
    case msg::kCommand:
      return onCommand(static_cast<int>(wParam));
    case msg::kTimer:
      onTimer(static_cast<uint32_t>(wParam));
      return kHandled;
    case msg::kConnectRequest:
      return onConnectRequest(reinterpret_cast<ConnectRequest*>(lParam));
    case msg::kDisconnectDone:
      return onCloseLiveViewing(wParam);
    case msg::kControlConnectResult:
      return client_ && client_->connectFailed() ? onControlConnectResult(lParam) : kHandled;
    case msg::kControlLinkLost:
      return client_ && client_->linkLost() ? onControlLinkLost() : kHandled;
    case msg::kLiveStreamLost:
      return onLiveStreamLost();
    case msg::kFilterPenDown:
      return onPenDown(reinterpret_cast<const InputMessage*>(lParam));
    case msg::kFilterPenUp:
      return onPenUp(reinterpret_cast<const InputMessage*>(lParam));
    case msg::kPresetPressed:
      return onPreset(lParam);
    case msg::kQuery3039:
    case msg::kQuery3040:
      return 1;
    case msg::kQueryClientExists:
      return client_ ? 1 : 0;
    case msg::kRequestOrder:
      return onRequestOrder(reinterpret_cast<const RequestOrder*>(wParam), lParam);
    case msg::kReply:
      return onReply(reinterpret_cast<const ReplyRecord*>(lParam));
    case msg::kVolumeChanged:
      return onVolumeChanged(wParam, lParam);
    case msg::kRecordingEnded:
      onRecordingEvents();
      return kHandled;
    case msg::kSnapshotSaved:
      onSnapshotResults();
      return kHandled;
    default:
      return kRefused;
  }
}

int CViewerDlg::onCommand(int id) {
  // The orderly disconnect owns the live stream and audio until the DVR has answered: a channel
  // or audio command then would turn its RSP_LIVECLOSE into a switch, or reopen what it closed.
  const bool channelOrAudio = (id >= ctl::kFirstChannel && id <= ctl::kLastChannel) ||
                              id == ctl::kAudioOn || id == ctl::kAudioOff;
  if (disconnecting_ && channelOrAudio) return kHandled;
  if (id >= ctl::kFirstChannel && id <= ctl::kLastChannel) {
    onChannelButton(id - ctl::kFirstChannel);
    return kHandled;
  }
  if (id >= ctl::kFirstPreset && id <= ctl::kLastPreset) {
    onPresetButton(id);
    return kHandled;
  }
  switch (id) {
    case ctl::kConnect:
      if (onConnectionCommand) onConnectionCommand(id);
      onConnectCommand();
      return kHandled;
    case ctl::kDisconnect:
      if (onConnectionCommand) onConnectionCommand(id);
      onDisconnectCommand();
      return kHandled;
    case ctl::kAddressBook:
      onAddressBookCommand();
      return kHandled;
    case ctl::kAudioOn:
      onAudioOn();
      return kHandled;
    case ctl::kAudioOff:
      switchAudioOff();
      return kHandled;
    case ctl::kViewOption:
      viewOption_ = viewOption_ == 1 ? 4 : 1;
      return kHandled;
    case ctl::kLayout0:
      applyLayout(0);
      return kHandled;
    case ctl::kLayout1:
      // The version button is the only way between the layouts: it switches back and forth.
      applyLayout(layout_ == 1 ? 0 : 1);
      return kHandled;
    default:
      return kRefused;
  }
}

void CViewerDlg::onTimer(uint32_t id) {
  killTimer(id);
  switch (id) {
    case timers::kReopenDisplay:
      openDisplay();
      displayReady_ = true;
      break;
    case timers::kResumeDrawing:
      display_.GXResume();
      displayReady_ = true;
      break;
    case timers::kConnectTimeout:
      onConnectTimeout();
      break;
    case timers::kSwitchTimeout:
      requestFailure(true);
      break;
    default:
      break;
  }
}

void CViewerDlg::setStatusText(const QString& text) {
  if (text == statusText_) return;
  statusText_ = text;
  statusLine_->setText(text);
  if (onStatusText) onStatusText(text);
}

void CViewerDlg::showStatusText(const QString& text) {
  setStatusText(text);
  repaintWindow(false);
}

void CViewerDlg::repaintWindow(bool withBackground) {
  if (withBackground) update();
  statusLine_->update();
}

QString CViewerDlg::addressText() const {
  return connectDialog_->address();
}

void CViewerDlg::paintEvent(QPaintEvent*) {
  if (fullScreen_) return;
  QPainter painter(this);
  painter.drawImage(QPoint(0, 0), skin::bitmap(skin::kBackground));
  const QString address = addressText();
  if (!address.isEmpty()) {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(12);
    painter.setFont(font);
    painter.setPen(QColor::fromRgb(CStatusLine::kTextColour));
    painter.drawText(QRect(QPoint(40, 2), QPoint(106, 12)), Qt::AlignCenter | Qt::TextSingleLine,
                     address);
  }
}

// Close and destroy share their steps; the orderly disconnect they post finishes after the
// modal loop has ended (the application waits for it).
void CViewerDlg::closeSteps() {
  killTimer(timers::kReopenDisplay);
  showCameraPanel(false);
  platform::postMessage(windowId(), msg::kCommand, ctl::kDisconnect, 0);
  display_.GXCloseDisplay();
}

void CViewerDlg::closeEvent(QCloseEvent* event) {
  closeSteps();
  leaveFullScreen();
  QDialog::closeEvent(event);
  done(0);
}

// Escape and Return never close the main window.
void CViewerDlg::reject() {}

void CViewerDlg::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return ||
      event->key() == Qt::Key_Enter || handleKeyPress(event)) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void CViewerDlg::keyReleaseEvent(QKeyEvent* event) {
  if (handleKeyRelease(event)) {
    event->accept();
    return;
  }
  QDialog::keyReleaseEvent(event);
}

// A camera moved by a held key stops when the window loses the keyboard.
void CViewerDlg::focusOutEvent(QFocusEvent* event) {
  releaseHeldCameraKey();
  QDialog::focusOutEvent(event);
}

void CViewerDlg::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange && !isActiveWindow()) releaseHeldCameraKey();
  QDialog::changeEvent(event);
}

void CViewerDlg::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) onPictureTap(event->position().toPoint());
  QDialog::mousePressEvent(event);
}

void CViewerDlg::tapWindow(QPoint point) {
  onPictureTap(point);
}

bool CViewerDlg::preTranslateMessage(const InputMessage& message) {
  auto* widget = qobject_cast<QWidget*>(message.target);
  const bool mine = widget != nullptr && (widget == this || isAncestorOf(widget));
  if (!mine) return false;
  switch (message.kind) {
    case InputMessage::Kind::KeyDown:
      return message.key == 27 || message.key == 13;
    case InputMessage::Kind::PenDown:
      platform::sendMessage(windowId(), msg::kFilterPenDown, 0,
                            reinterpret_cast<intptr_t>(&message));
      return false;
    case InputMessage::Kind::PenUp:
      platform::sendMessage(windowId(), msg::kFilterPenUp, 0, reinterpret_cast<intptr_t>(&message));
      return false;
  }
  return false;
}

void CViewerDlg::showMessage(const QString& text, bool exclamation) {
  platform::dialogHost().messageBox(
      this, text, exclamation ? MessageIcon::Exclamation : MessageIcon::Information);
}
