#pragma once
// Helpers for the skin controls: solid test images, a backdrop of a known colour to render
// controls on, and a window that records the messages it is posted.
#include <QImage>
#include <QWidget>

#include <vector>

#include "platform/message_window.h"

inline QImage solidImage(QSize size, QColor colour) {
  QImage image(size, QImage::Format_RGB32);
  image.fill(colour);
  return image;
}

// A parent whose own pixels are magenta, so what a control leaves undrawn shows as magenta.
class Backdrop : public QWidget {
 public:
  static inline const QColor kColour{255, 0, 255};
  Backdrop() {
    setAutoFillBackground(true);
    QPalette palette;
    palette.setColor(QPalette::Window, kColour);
    setPalette(palette);
    resize(100, 60);
  }
  // The colour on screen at a point of a child control.
  QColor pixelOf(const QWidget& child, QPoint at) {
    return QColor(grab().toImage().pixel(child.mapTo(this, at)));
  }
};

class RecordingWindow final : public CMessageWindow {
 public:
  struct Received {
    uint32_t msg;
    uintptr_t wParam;
    intptr_t lParam;
  };
  int onMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
    received.push_back({msg, wParam, lParam});
    return 0;
  }
  std::vector<Received> received;  // UI thread only
};
