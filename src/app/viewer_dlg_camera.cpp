// The camera panel: press-and-hold movement (2044, 2045) and the eight presets (2050).
#include "app/control_ids.h"
#include "app/viewer_dlg.h"
#include "platform/messages.h"
#include "protocol/dvr_client.h"
#include "ui/control_id.h"
#include "ui/hover_button.h"

namespace {
constexpr uint8_t kPresetCode = 21;
constexpr int kPanTiltStop = 0;
constexpr int kLensStop = 9;

// The movement code of a camera button, 0 for any other control.
int moveCodeOf(int id) {
  switch (id) {
    case ctl::kUp:
      return 1;
    case ctl::kDown:
      return 2;
    case ctl::kLeft:
      return 3;
    case ctl::kRight:
      return 4;
    case ctl::kPlus:
      return 5;
    case ctl::kMinus:
      return 6;
    case ctl::kLessThan:
      return 7;
    case ctl::kGreaterThan:
      return 8;
    default:
      return 0;
  }
}

bool isPressTracked(int id) {
  return id == ctl::kConnect || id == ctl::kDisconnect || id == ctl::kAddressBook ||
         id == ctl::kAudioOn || id == ctl::kAudioOff || moveCodeOf(id) != 0 ||
         (id >= ctl::kFirstPreset && id <= ctl::kLastPreset);
}
}  // namespace

void CViewerDlg::showCameraPanel(bool show) {
  for (int id = ctl::kFirstPreset; id <= ctl::kLastPreset; ++id) hoverButton(id)->setState(2);
  for (int id : {ctl::kPlus, ctl::kMinus, ctl::kLessThan, ctl::kGreaterThan, ctl::kUp, ctl::kDown,
                 ctl::kLeft, ctl::kRight}) {
    hoverButton(id)->setState(2);
  }
  for (int id = ctl::kModeZoom; id <= ctl::kModePreset; ++id) setControlVisible(id, show);
  for (int id = ctl::kPlus; id <= ctl::kGreaterThan; ++id) setControlVisible(id, show);
  for (int id = ctl::kPadCornerTopLeft; id <= ctl::kPadCornerBottomRight; ++id) {
    setControlVisible(id, show);
  }
  for (int id = ctl::kFirstPreset; id <= ctl::kLastPreset; ++id) setControlVisible(id, show);
}

CHoverButton* CViewerDlg::hoverButtonFor(const QObject* target) const {
  auto* button = qobject_cast<CHoverButton*>(const_cast<QObject*>(target));
  if (button == nullptr || button->parentWidget() != this) return nullptr;
  return isPressTracked(controlId(button)) ? button : nullptr;
}

int CViewerDlg::onPenDown(const InputMessage* message) {
  if (message == nullptr || message->kind != InputMessage::Kind::PenDown) return kRefused;
  pressedButton_ = hoverButtonFor(message->target);
  if (!clientConnected() || ptzMoving_) return kRefused;
  if ((ptzMask_ & channelMask(selectedChannel_)) == 0) return kHandled;
  const int code = moveCodeOf(controlId(message->target));
  if (code == 0) return kRefused;
  if (client_->requestPtzControl(static_cast<uint8_t>(selectedChannel_), static_cast<uint8_t>(code),
                                 0) != 1) {
    return kRefused;
  }
  ptzMoving_ = true;
  ptzChannel_ = selectedChannel_;
  pressedStopCode_ = code <= 4 ? kPanTiltStop : kLensStop;
  return kHandled;
}

// The camera stops wherever the pen is lifted: the stop code is the pressed button's, so a
// release beside the panel never leaves a camera running. The stop goes to the camera that was
// started, even when another channel was chosen while the pen (or key) was held.
int CViewerDlg::onPenUp(const InputMessage* message) {
  if (message == nullptr || message->kind != InputMessage::Kind::PenUp) return kRefused;
  if (pressedButton_) pressedButton_->notifyReleased();
  if (!clientConnected() || !ptzMoving_) return kRefused;
  const int stopCode = pressedStopCode_ >= 0 ? pressedStopCode_ : kPanTiltStop;
  if (client_->requestPtzControl(static_cast<uint8_t>(ptzChannel_), static_cast<uint8_t>(stopCode),
                                 0) != 1) {
    return kRefused;
  }
  ptzMoving_ = false;
  pressedStopCode_ = -1;
  return kHandled;
}

int CViewerDlg::onPreset(intptr_t preset) {
  if (!client_) return kRefused;
  if ((ptzMask_ & channelMask(selectedChannel_)) == 0) return kHandled;
  if (clientConnected() && preset >= 1 && preset <= 8 &&
      client_->requestPtzControl(static_cast<uint8_t>(selectedChannel_), kPresetCode,
                                 static_cast<uint8_t>(preset)) == 1) {
    return kHandled;
  }
  return kRefused;
}

void CViewerDlg::onPresetButton(int controlId) {
  if (controlId == activePreset_) return;
  const int preset = controlId - ctl::kFirstPreset + 1;
  const auto result = platform::sendMessage(windowId(), msg::kPresetPressed, 64, preset);
  if (result.value_or(kRefused) < 0) return;
  if (activePreset_ != 0) hoverButton(activePreset_)->setState(2);
  hoverButton(controlId)->setState(1);
  activePreset_ = controlId;
}
