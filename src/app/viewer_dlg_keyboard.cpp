// The keyboard: every key stands for a button and takes that button's path (a command, or the
// pen-down and pen-up of the camera panel), so a key can do nothing a click couldn't.
#include <QKeyEvent>

#include "app/control_ids.h"
#include "app/viewer_dlg.h"
#include "platform/messages.h"
#include "ui/channel_button.h"
#include "ui/hover_button.h"

namespace {
// Channel (0..15) of a digit key: 1..9 and 0 for channels 1..10, with Shift 1..6 for 11..16
// (shifted digits arrive as their symbols on a US layout).
int channelOfKey(int key, Qt::KeyboardModifiers modifiers) {
  const bool shift = (modifiers & Qt::ShiftModifier) != 0;
  if (key >= Qt::Key_1 && key <= Qt::Key_9) {
    const int digit = key - Qt::Key_0;
    if (!shift) return digit - 1;
    return digit <= 6 ? digit + 9 : -1;
  }
  if (key == Qt::Key_0) return shift ? -1 : 9;
  switch (key) {
    case Qt::Key_Exclam:
      return 10;
    case Qt::Key_At:
      return 11;
    case Qt::Key_NumberSign:
      return 12;
    case Qt::Key_Dollar:
      return 13;
    case Qt::Key_Percent:
      return 14;
    case Qt::Key_AsciiCircum:
      return 15;
    default:
      return -1;
  }
}

// The camera button a held key stands for, 0 for none.
int cameraButtonOfKey(int key) {
  switch (key) {
    case Qt::Key_Up:
      return ctl::kUp;
    case Qt::Key_Down:
      return ctl::kDown;
    case Qt::Key_Left:
      return ctl::kLeft;
    case Qt::Key_Right:
      return ctl::kRight;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
      return ctl::kPlus;
    case Qt::Key_Minus:
    case Qt::Key_Underscore:
      return ctl::kMinus;
    default:
      return 0;
  }
}
}  // namespace

bool CViewerDlg::handleKeyPress(QKeyEvent* event) {
  const int key = event->key();
  if (const int button = cameraButtonOfKey(key); button != 0) {
    if (!event->isAutoRepeat() && heldCameraButton_ == 0) {
      heldCameraButton_ = button;
      sendPen(button, true);
    }
    return true;
  }
  if (event->isAutoRepeat()) return false;
  if (const int channel = channelOfKey(key, event->modifiers()); channel >= 0) {
    // Only what a click could do: a disabled button takes no key either.
    if (CChannelButton* button = channelButton(channel); button && button->isEnabled()) {
      platform::sendMessage(windowId(), msg::kCommand,
                            static_cast<uintptr_t>(ctl::kFirstChannel + channel), 0);
    }
    return true;
  }
  switch (key) {
    case Qt::Key_A: {
      const int id = audioOn_ ? ctl::kAudioOff : ctl::kAudioOn;
      if (findChild<QWidget*>(QString::number(id))->isEnabled())
        platform::sendMessage(windowId(), msg::kCommand, static_cast<uintptr_t>(id), 0);
      return true;
    }
    case Qt::Key_F:
      tapWindow(QPoint(121, 100));  // the middle of the picture area
      return true;
    case Qt::Key_S:
      takeSnapshot();
      return true;
    case Qt::Key_R:
      toggleRecording();
      return true;
    case Qt::Key_M:
      if (!onMonitorRequested) return false;
      onMonitorRequested();
      return true;
    default:
      return false;
  }
}

bool CViewerDlg::handleKeyRelease(QKeyEvent* event) {
  const int button = cameraButtonOfKey(event->key());
  if (button == 0) return false;
  if (!event->isAutoRepeat() && button == heldCameraButton_) releaseHeldCameraKey();
  return true;
}

void CViewerDlg::releaseHeldCameraKey() {
  if (heldCameraButton_ == 0) return;
  const int button = heldCameraButton_;
  heldCameraButton_ = 0;
  sendPen(button, false);
}

// A pen-down or pen-up on a camera button, through the same message the filter sends.
void CViewerDlg::sendPen(int controlId, bool down) {
  CHoverButton* button = hoverButton(controlId);
  if (button == nullptr) return;
  const InputMessage message{down ? InputMessage::Kind::PenDown : InputMessage::Kind::PenUp, button,
                             button->mapToGlobal(QPoint(1, 1)), 0};
  platform::sendMessage(windowId(), down ? msg::kFilterPenDown : msg::kFilterPenUp, 0,
                        reinterpret_cast<intptr_t>(&message));
  if (down && ptzMoving_) button->setState(1);
}
