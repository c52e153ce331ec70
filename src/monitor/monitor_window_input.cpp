// The monitor window's keys and the camera of the focused tile (press and hold, presets).
#include <QKeyEvent>

#include "monitor/monitor_window.h"
#include "monitor/tile_widget.h"

namespace {
constexpr uint8_t kPanTiltStop = 0;
constexpr uint8_t kLensStop = 9;

// The camera movement code of a held key (as in the compact window), 0 for none.
int moveCodeOfKey(int key) {
  switch (key) {
    case Qt::Key_Up:
      return 1;
    case Qt::Key_Down:
      return 2;
    case Qt::Key_Left:
      return 3;
    case Qt::Key_Right:
      return 4;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
      return 5;
    case Qt::Key_Minus:
    case Qt::Key_Underscore:
      return 6;
    default:
      return 0;
  }
}

// Channel (0..15) of a digit key, as in the compact window: 1..9 and 0 for channels 1..10, with
// Shift 1..6 for 11..16.
int channelOfKey(int key, Qt::KeyboardModifiers modifiers) {
  const bool shift = (modifiers & Qt::ShiftModifier) != 0;
  if (key >= Qt::Key_1 && key <= Qt::Key_9) {
    const int digit = key - Qt::Key_0;
    if (!shift) return digit - 1;
    return digit <= 6 ? digit + 9 : -1;
  }
  if (key == Qt::Key_0) return shift ? -1 : 9;
  static constexpr int kShifted[] = {Qt::Key_Exclam, Qt::Key_At,      Qt::Key_NumberSign,
                                     Qt::Key_Dollar, Qt::Key_Percent, Qt::Key_AsciiCircum};
  for (int i = 0; i < 6; ++i) {
    if (key == kShifted[i]) return 10 + i;
  }
  return -1;
}
}  // namespace

void CMonitorWindow::cameraPress(int code) {
  if (movingChannel_ >= 0 || code < 1 || code > 8) return;
  const int channel = focusedChannel();
  if (channel < 0) return;
  if (!session_->ptzControl(static_cast<uint8_t>(channel), static_cast<uint8_t>(code), 0)) return;
  movingChannel_ = channel;
  movingStopCode_ = code <= 4 ? kPanTiltStop : kLensStop;
}

// The stop goes to the camera that was started, whatever tile has the focus now.
void CMonitorWindow::cameraRelease() {
  if (movingChannel_ < 0) return;
  const int channel = movingChannel_;
  movingChannel_ = -1;
  session_->ptzControl(static_cast<uint8_t>(channel), static_cast<uint8_t>(movingStopCode_), 0);
}

void CMonitorWindow::cameraPreset(int preset) {
  const int channel = focusedChannel();
  if (channel < 0 || preset < 1 || preset > 8) return;
  session_->ptzPreset(static_cast<uint8_t>(channel), static_cast<uint8_t>(preset));
}

void CMonitorWindow::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if (const int code = moveCodeOfKey(key); code != 0) {
    if (!event->isAutoRepeat()) cameraPress(code);
    return;
  }
  if (event->isAutoRepeat()) return;
  if (const int channel = channelOfKey(key, event->modifiers()); channel >= 0) {
    assignChannel(focusTile_, channel);
    return;
  }
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      toggleEnlarged();
      return;
    case Qt::Key_F:
      setFullScreen(!isFullScreen());
      return;
    case Qt::Key_Escape:
      if (isFullScreen()) {
        setFullScreen(false);
      } else if (enlargedTile_ >= 0) {
        toggleEnlarged();
      }
      return;
    case Qt::Key_PageDown:
      nextPage();
      return;
    case Qt::Key_PageUp:
      previousPage();
      return;
    case Qt::Key_A:
      setAudio(!audioOn_);
      return;
    case Qt::Key_I:
      setShowFps(!showFps_);
      return;
    case Qt::Key_P:
      setPtzOverlay(!overlayOn_);
      return;
    case Qt::Key_G:
      setGridLayout(nextGridLayout(layout_));
      return;
    case Qt::Key_Delete:
      assignChannel(focusTile_, -1);
      return;
    case Qt::Key_S:
      takeSnapshot();
      return;
    case Qt::Key_R:
      toggleRecording();
      return;
    case Qt::Key_M:
      emit compactRequested();
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

void CMonitorWindow::keyReleaseEvent(QKeyEvent* event) {
  if (moveCodeOfKey(event->key()) != 0) {
    if (!event->isAutoRepeat()) cameraRelease();
    return;
  }
  QWidget::keyReleaseEvent(event);
}

QImage CMonitorWindow::grabMonitor() {
  const QRect area = gridArea_->geometry().united(statusBar_->geometry());
  return grab(area).toImage();
}
