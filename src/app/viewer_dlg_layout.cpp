// The main window's controls, skins, control layouts, picture placement and full screen.
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>

#include "app/control_ids.h"
#include "app/status_line.h"
#include "app/viewer_dlg.h"
#include "platform/dialog_host.h"
#include "platform/display_qt_backend.h"
#include "platform/messages.h"
#include "protocol/dvr_client.h"
#include "ui/channel_button.h"
#include "ui/control_id.h"
#include "ui/hover_button.h"
#include "ui/skin_artwork.h"
#include "ui/skin_slider.h"
#include "video/frame_renderer.h"
#include "video/video_decoder.h"

namespace {
constexpr QRect kPictureArea(14, 43, 214, 160);
constexpr QRect kStatusArea(QPoint(20, 160), QPoint(219, 174));
constexpr int kSkinHeight = skin::kBackgroundHeight;
constexpr int kMenuBarHeight = 26;

struct HoverSkin {
  int id;
  QRect rect;
  int a, b, c, d;
  bool latching;
};

// Images and places of the hover buttons (presets are added in code).
const HoverSkin kHoverSkins[] = {
    {ctl::kConnect, {13, 3, 23, 9}, 139, 140, 140, 0, false},
    {ctl::kDisconnect, {13, 3, 23, 9}, 137, 138, 138, 0, false},
    {ctl::kAddressBook, {111, 3, 31, 9}, 142, 143, 143, 0, false},
    {ctl::kAudioOn, {159, 3, 11, 9}, 146, 147, 147, 0, false},
    {ctl::kAudioOff, {159, 3, 11, 9}, 144, 145, 145, 0, false},
    {ctl::kChannelMarker, {3, 181, 6, 4}, 150, 150, 150, 0, false},
    {ctl::kPlus, {2, 207, 28, 40}, 195, 196, 198, 197, true},
    {ctl::kMinus, {32, 207, 28, 40}, 191, 192, 194, 193, true},
    {ctl::kLessThan, {62, 207, 28, 40}, 159, 160, 162, 161, true},
    {ctl::kGreaterThan, {92, 207, 28, 40}, 155, 156, 158, 157, true},
    {ctl::kUp, {143, 211, 13, 9}, 179, 180, 182, 181, true},
    {ctl::kDown, {143, 235, 13, 9}, 164, 165, 167, 166, true},
    {ctl::kLeft, {132, 221, 9, 13}, 170, 171, 173, 172, true},
    {ctl::kRight, {158, 221, 9, 13}, 175, 176, 178, 177, true},
};

struct PlainButton {
  int id;
  const char* text;
  QRect rect;
};

// Buttons drawn by the platform: the view option, the mode buttons and the pad's corners.
const PlainButton kPlainButtons[] = {
    {ctl::kViewOption, "1/4", {200, 3, 36, 10}},
    {ctl::kModeZoom, "Zoom", {2, 250, 28, 14}},
    {ctl::kModeFocus, "Focus", {32, 250, 28, 14}},
    {ctl::kModePantilt, "Pantilt", {62, 250, 28, 14}},
    {ctl::kModePreset, "Preset", {92, 250, 28, 14}},
    {ctl::kPadCornerTopLeft, "", {132, 211, 9, 9}},
    {ctl::kPadCornerTopRight, "", {158, 211, 9, 9}},
    {ctl::kPadCornerBottomLeft, "", {132, 235, 9, 9}},
    {ctl::kPadCornerBottomRight, "", {158, 235, 9, 9}},
};

QRect presetRect(int k) {
  return {k <= 3 ? 181 + 15 * k : 121 + 15 * k, k <= 3 ? 207 : 228, 13, 19};
}

QRect channelRect(int n) {
  return {n <= 8 ? 1 + 13 * n : 122 + 17 * (n - 9), 187, 13, 15};
}

// The full-screen dialog's only behaviour: a tap ends it.
class FullScreenTapFilter final : public QObject {
 public:
  explicit FullScreenTapFilter(std::function<void()> onTap, QObject* parent)
      : QObject(parent), onTap_(std::move(onTap)) {}
  bool eventFilter(QObject*, QEvent* event) override {
    // Escape and F leave full screen like a tap does.
    const bool key = event->type() == QEvent::KeyPress &&
                     (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape ||
                      static_cast<QKeyEvent*>(event)->key() == Qt::Key_F);
    if (event->type() == QEvent::MouseButtonPress || key) {
      onTap_();
      return true;
    }
    return false;
  }

 private:
  std::function<void()> onTap_;
};
}  // namespace

void CViewerDlg::createControls() {
  setFixedSize(skin::kBackgroundWidth, kSkinHeight + kMenuBarHeight);
  const auto sendCommand = [this](int id) {
    platform::sendMessage(windowId(), msg::kCommand, static_cast<uintptr_t>(id), 0);
  };
  for (const PlainButton& plain : kPlainButtons) {
    auto* button = new QPushButton(QString::fromLatin1(plain.text), this);
    setControlId(button, plain.id);
    button->setGeometry(plain.rect);
    QFont small = button->font();
    small.setPixelSize(8);
    button->setFont(small);
    button->setFocusPolicy(Qt::NoFocus);
    connect(button, &QPushButton::clicked, this, [sendCommand, id = plain.id] { sendCommand(id); });
  }
  const auto pressedQuery = [this]() -> const CHoverButton* { return pressedButton_.data(); };
  const auto makeHover = [&](int id, QRect rect) {
    auto* button = new CHoverButton(this);
    setControlId(button, id);
    button->setGeometry(rect);
    button->setFocusPolicy(Qt::NoFocus);
    button->setPressedButtonQuery(pressedQuery);
    connect(button, &QAbstractButton::clicked, this, [sendCommand, id] { sendCommand(id); });
    return button;
  };
  for (const HoverSkin& skin : kHoverSkins) makeHover(skin.id, skin.rect);
  for (int k = 0; k < 8; ++k) {
    auto* preset = makeHover(ctl::kFirstPreset + k, presetRect(k));
    preset->setText(QString::number(k + 1));
  }
  connectButton_ = hoverButton(ctl::kConnect);
  disconnectButton_ = hoverButton(ctl::kDisconnect);
  addressBookButton_ = hoverButton(ctl::kAddressBook);
  audioOnButton_ = hoverButton(ctl::kAudioOn);
  audioOffButton_ = hoverButton(ctl::kAudioOff);
  channelMarker_ = hoverButton(ctl::kChannelMarker);

  QFont captionFont(QStringLiteral("DejaVu Sans Condensed"));
  captionFont.setPixelSize(9);
  captionFont.setStretch(QFont::Condensed);
  for (int n = 0; n < kChannelCount; ++n) {
    auto* button = new CChannelButton(this);
    setControlId(button, ctl::kFirstChannel + n);
    button->setGeometry(channelRect(n));
    button->setFont(captionFont);
    button->setFocusPolicy(Qt::NoFocus);
    connect(button, &QAbstractButton::clicked, this,
            [sendCommand, id = ctl::kFirstChannel + n] { sendCommand(id); });
    channelButtons_[static_cast<size_t>(n)] = button;
  }
  volumeControl_ = new CSkinSlider(this);
  setControlId(volumeControl_, ctl::kVolume);
  volumeControl_->setGeometry(175, 4, 20, 9);
  volumeControl_->setNotifyWindow(windowId());

  statusLine_ = new CStatusLine(this);
  statusLine_->setGeometry(kStatusArea);

  versionButton_ = new QPushButton(QString::fromLatin1(kVersionText), this);
  setControlId(versionButton_, ctl::kLayout1);
  versionButton_->setGeometry(0, kSkinHeight, skin::kBackgroundWidth, kMenuBarHeight);
  versionButton_->setFocusPolicy(Qt::NoFocus);
  connect(versionButton_, &QPushButton::clicked, this,
          [sendCommand] { sendCommand(ctl::kLayout1); });

  fullScreenDialog_->installEventFilter(new FullScreenTapFilter(
      [this] {
        fullScreen_ = false;
        displayReady_ = false;
        fullScreenDialog_->done(0);
      },
      fullScreenDialog_.get()));
}

void CViewerDlg::setUpSkins() {
  for (const HoverSkin& skin : kHoverSkins) {
    CHoverButton* button = hoverButton(skin.id);
    button->setGeometry(skin.rect);
    button->loadImages(skin.a, skin.b, skin.c, skin.d);
    button->setGeometry(skin.rect);
  }
  for (int k = 0; k < 8; ++k) {
    CHoverButton* preset = hoverButton(ctl::kFirstPreset + k);
    preset->loadImages(199 + k, 207 + k, 223 + k, 215 + k);
    preset->setGeometry(presetRect(k));
  }
  volumeControl_->setTrackImages(152, 151, true, 0x000000, 0, 0);
  volumeControl_->setThumbImages(153, 154, false, 0, 0, 0);
  volumeControl_->move(175, 4);
  volumeControl_->setRange(0, 0xFFFF);
  volumeControl_->setMargins(0, 0, 0, 0);
  for (int n = 0; n < kChannelCount; ++n) {
    channelButtons_[static_cast<size_t>(n)]->setCaption(QString::number(n + 1));
    channelButtons_[static_cast<size_t>(n)]->setState(chstate::kUnavailable);
    channelButtons_[static_cast<size_t>(n)]->setEnabled(false);
  }
  // The camera buttons rest hidden until a channel with a camera is shown.
  setControlVisible(ctl::kChannelMarker, false);
  for (int id : {ctl::kPlus, ctl::kMinus, ctl::kLessThan, ctl::kGreaterThan, ctl::kUp, ctl::kDown,
                 ctl::kLeft, ctl::kRight}) {
    setControlVisible(id, false);
    hoverButton(id)->setState(0);
    hoverButton(id)->setLatching(true);
  }
  for (int id = ctl::kFirstPreset; id <= ctl::kLastPreset; ++id) {
    setControlVisible(id, false);
    hoverButton(id)->setState(0);
    hoverButton(id)->setLatching(true);
  }
  statusLine_->raise();
}

CChannelButton* CViewerDlg::channelButton(int channel) const {
  if (channel < 0 || channel >= kChannelCount) return nullptr;
  return channelButtons_[static_cast<size_t>(channel)];
}

CHoverButton* CViewerDlg::hoverButton(int id) const {
  return findControl<CHoverButton>(this, id);
}

void CViewerDlg::setControlVisible(int id, bool visible) {
  if (QWidget* control = findControl<QWidget>(this, id)) control->setVisible(visible);
}

void CViewerDlg::setControlEnabled(int id, bool enabled) {
  if (QWidget* control = findControl<QWidget>(this, id)) control->setEnabled(enabled);
}

void CViewerDlg::hideAll() {
  for (int id : {ctl::kConnect, ctl::kDisconnect, ctl::kViewOption, ctl::kAudioOn, ctl::kAudioOff,
                 ctl::kVolume, ctl::kAddressBook, ctl::kChannelMarker}) {
    setControlVisible(id, false);
  }
  for (CChannelButton* button : channelButtons_) button->setVisible(false);
  for (int id = ctl::kModeZoom; id <= ctl::kModePreset; ++id) setControlVisible(id, false);
  for (int id = ctl::kPlus; id <= ctl::kGreaterThan; ++id) setControlVisible(id, false);
  for (int id = ctl::kFirstPreset; id <= ctl::kLastPreset; ++id) setControlVisible(id, false);
  // The direction pad: its four buttons and four corners.
  for (int id = ctl::kPadCornerTopLeft; id <= ctl::kPadCornerBottomRight; ++id) {
    setControlVisible(id, false);
  }
}

void CViewerDlg::applyLayout(int layout) {
  hideAll();
  const auto showCameraControls = [this](bool includePantilt) {
    for (int id = ctl::kModeZoom; id <= ctl::kModePreset; ++id) {
      if (id != ctl::kModePantilt || includePantilt) setControlVisible(id, true);
    }
    for (int id = ctl::kPlus; id <= ctl::kGreaterThan; ++id) setControlVisible(id, true);
    for (int id = ctl::kFirstPreset; id <= ctl::kLastPreset; ++id) setControlVisible(id, true);
    for (int id = ctl::kPadCornerTopLeft; id <= ctl::kPadCornerBottomRight; ++id) {
      setControlVisible(id, true);
    }
  };
  if (layout == 0) {
    // Connect or Disconnect by the connection: a client lives from the start of a connection
    // to its teardown, so coming back from full screen or layout 1 always leaves a way on. A
    // reconnect wait offers Disconnect, which ends it.
    setControlVisible(ctl::kConnect, !client_ && !reconnectWaiting_);
    setControlVisible(ctl::kDisconnect, client_ != nullptr || reconnectWaiting_);
    setControlVisible(ctl::kViewOption, true);
    setControlVisible(ctl::kVolume, true);
    setControlVisible(ctl::kAddressBook, true);
    setControlVisible(audioOn_ ? ctl::kAudioOff : ctl::kAudioOn, true);
    setControlVisible(ctl::kChannelMarker, markerShown_);
    for (CChannelButton* button : channelButtons_) button->setVisible(true);
    if ((ptzMask_ & channelMask(selectedChannel_)) != 0) showCameraControls(true);
  } else if (layout == 1) {
    showCameraControls(false);
  }
  layout_ = layout;
}

// Where the display memory shows: the picture area in the window view, the whole full-screen
// dialog in full screen. The status line always stays above the picture.
void CViewerDlg::placeDisplay() {
  auto* backend = dynamic_cast<CQtDisplayBackend*>(services_.displayBackend);
  if (backend == nullptr || backend->widget() == nullptr) return;
  CDisplayWidget* widget = backend->widget();
  if (fullScreen_) {
    // As large as the screen allows, upright on a landscape screen.
    const QSize available = fullScreenDialog_->size();
    const bool landscape = available.width() >= available.height();
    const QSize memory = landscape ? QSize(display::kHeight, display::kWidth)
                                   : QSize(display::kWidth, display::kHeight);
    const int zoom = std::max(
        1, std::min(available.width() / memory.width(), available.height() / memory.height()));
    widget->setParent(fullScreenDialog_.get());
    backend->setViewport(QRect(0, 0, display::kWidth, display::kHeight), zoom, landscape);
    widget->move((available.width() - memory.width() * zoom) / 2,
                 (available.height() - memory.height() * zoom) / 2);
    widget->show();
    return;
  }
  if (widget->parentWidget() != this) widget->setParent(this);
  backend->setViewport(kPictureArea, 1, false);
  widget->move(kPictureArea.topLeft());
  widget->setVisible(pictureShown_);
  // The picture lies under every control (the channel buttons reach into the picture area);
  // only the status line is drawn over it.
  widget->lower();
  statusLine_->raise();
  statusLine_->setOverPicture(pictureShown_);
}

void CViewerDlg::showPicture(bool shown) {
  pictureShown_ = shown;
  if (!shown) display_.clear();
  placeDisplay();
}

void CViewerDlg::onPictureTap(QPoint point) {
  if (!displayReady_ || !clientConnected() || !client_->stream().isRunning()) return;
  // Both sides in window coordinates, so the test holds wherever the window stands.
  const QRect window = rect();
  const bool inside = point.x() > window.left() + 10 && point.x() < window.right() + 1 - 15 &&
                      point.y() > window.top() - 10 && point.y() < (window.bottom() + 1) / 2 + 20;
  if (!inside) return;
  fullScreen_ = true;
  displayReady_ = false;
  setFullScreen(true);
  platform::dialogHost().execDialog(*fullScreenDialog_);
  setFullScreen(false);
}

void CViewerDlg::setFullScreen(bool on) {
  display_.GXSuspend();
  // Both paths follow the view whatever the coding is now: a switch in full screen may bring a
  // channel of the other coding, or the DVR may change it.
  videoDecoder_->setFullScreen(on);
  frameRenderer_->setFullScreen(on ? 1 : 0);
  if (on) {
    hideAll();
    if (QScreen* screen = this->screen()) fullScreenDialog_->setGeometry(screen->geometry());
    fullScreenDialog_->setWindowState(Qt::WindowFullScreen);
    versionButton_->hide();
    fullScreen_ = true;
    placeDisplay();
    setTimer(timers::kResumeDrawing, timers::kDisplayDelayMs);
    update();
    updateScreenSaver();
    return;
  }
  displayReady_ = false;  // until the display is open again (timer 100)
  applyLayout(layout_);
  display_.GXCloseDisplay();
  versionButton_->show();
  fullScreenDialog_->hide();
  setTimer(timers::kReopenDisplay, timers::kDisplayDelayMs);
  fullScreen_ = false;
  update();
  updateScreenSaver();
}

void CViewerDlg::leaveFullScreen() {
  if (fullScreen_ || fullScreenDialog_->isVisible()) {
    fullScreen_ = false;
    displayReady_ = false;
    fullScreenDialog_->done(0);
    updateScreenSaver();
  }
}

QImage CViewerDlg::grabWindow() {
  if (fullScreen_) return fullScreenDialog_->grab().toImage();
  return grab().toImage();
}
