#pragma once
// Shows the display memory in a widget on the window the display is opened for.
//
// Each end of a frame copies the memory into a back picture (on the drawing thread), hands it over
// as the front picture and queues one repaint for the UI thread; frames that end before that
// repaint runs only replace the front picture, so a slow screen never queues work behind it. The
// paint takes the newest front picture as its own before drawing it, so neither side holds the
// other up for longer than an exchange of pictures. The picture is scaled by a whole zoom
// factor without smoothing, so every display pixel stays a sharp square.
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <atomic>
#include <mutex>

#include "platform/display.h"

class CQtDisplayBackend;

class CDisplayWidget final : public QWidget {
  Q_OBJECT
 public:
  CDisplayWidget(CQtDisplayBackend& backend, QWidget* parent);
  // Paint events handled so far (UI thread).
  int paintCount() const { return paints_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  CQtDisplayBackend& backend_;
  int paints_ = 0;
};

class CQtDisplayBackend final : public QObject, public IDisplayBackend {
  Q_OBJECT
 public:
  // Create on the UI thread.
  explicit CQtDisplayBackend(QObject* parent = nullptr);
  ~CQtDisplayBackend() override;

  bool attach(QWidget* window) override;
  void detach() override;
  int bitsPerPixel() const override { return 16; }
  void present(const uint16_t* memory) override;

  // UI thread. The part of the display memory shown (default: all of it) and the zoom (>= 1).
  // The widget takes the size of that part times the zoom; its owner places it.
  // turnUpright shows the memory turned 90 degrees counter-clockwise: the full-screen picture,
  // laid along the portrait memory, then stands upright on a landscape screen.
  void setViewport(const QRect& source, int zoom, bool turnUpright = false);
  bool turnedUpright() const { return turnUpright_; }
  // The widget's size for the current viewport.
  QSize shownSize() const;
  QRect source() const { return source_; }
  int zoom() const { return zoom_; }
  // The widget while the display is open, else null (UI thread).
  CDisplayWidget* widget() const { return widget_; }

  // UI thread: draws the front picture's shown part into target.
  void paintFront(QPainter& painter, const QRect& target);
  // A copy of the front picture (any thread).
  QImage front() const;

 private:
  void repaintNow();

  // UI thread only.
  QPointer<CDisplayWidget> widget_;
  QRect source_{0, 0, display::kWidth, display::kHeight};
  int zoom_ = 1;
  bool turnUpright_ = false;
  // Drawing thread only (one at a time, under the display's lock): the picture being copied.
  QImage back_;
  // Under frontMutex_: the newest finished picture, and whether the UI thread has taken it.
  mutable std::mutex frontMutex_;
  QImage front_;
  bool frontTaken_ = true;
  // UI thread only: the picture the widget paints.
  QImage shown_;
  // Set by the drawing thread when it queues a repaint, cleared by the UI thread running it.
  std::atomic<bool> repaintQueued_{false};
  std::mutex repaintMutex_;  // held while a repaint is queued and when the UI thread takes it
};
