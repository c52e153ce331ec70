#include "platform/display_qt_backend.h"

#include <QMetaObject>
#include <QPainter>

#include <cstring>

CDisplayWidget::CDisplayWidget(CQtDisplayBackend& backend, QWidget* parent)
    : QWidget(parent), backend_(backend) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  // Taps go to the window underneath (the picture area is tapped to change the view).
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

void CDisplayWidget::paintEvent(QPaintEvent*) {
  ++paints_;
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  backend_.paintFront(painter, rect());
}

CQtDisplayBackend::CQtDisplayBackend(QObject* parent)
    : QObject(parent),
      back_(display::kWidth, display::kHeight, QImage::Format_RGB16),
      front_(display::kWidth, display::kHeight, QImage::Format_RGB16),
      shown_(display::kWidth, display::kHeight, QImage::Format_RGB16) {
  shown_.fill(Qt::black);
}

CQtDisplayBackend::~CQtDisplayBackend() {
  delete widget_.data();
}

bool CQtDisplayBackend::attach(QWidget* window) {
  delete widget_.data();
  widget_ = new CDisplayWidget(*this, window);
  widget_->resize(shownSize());
  widget_->show();
  return true;
}

void CQtDisplayBackend::detach() {
  delete widget_.data();
  widget_ = nullptr;
}

void CQtDisplayBackend::present(const uint16_t* memory) {
  // Copied outside the lock: a paint in progress is never waited for.
  for (int row = 0; row < display::kHeight; ++row) {
    std::memcpy(back_.scanLine(row), memory + row * display::kWidth, display::kRowBytes);
  }
  {
    std::lock_guard lock(frontMutex_);
    front_.swap(back_);
    frontTaken_ = false;
  }
  // The repaint event is queued under repaintMutex_, which the UI thread takes before it acts on
  // it: ThreadSanitizer can't see Qt's own queue lock, so this makes the hand-over visible.
  std::lock_guard lock(repaintMutex_);
  if (!repaintQueued_.exchange(true)) {
    QMetaObject::invokeMethod(this, &CQtDisplayBackend::repaintNow, Qt::QueuedConnection);
  }
}

void CQtDisplayBackend::repaintNow() {
  {
    std::lock_guard lock(repaintMutex_);
    repaintQueued_.store(false);
  }
  if (widget_) widget_->update();
}

QSize CQtDisplayBackend::shownSize() const {
  const QSize size = source_.size() * zoom_;
  return turnUpright_ ? size.transposed() : size;
}

void CQtDisplayBackend::setViewport(const QRect& source, int zoom, bool turnUpright) {
  source_ = source.intersected(QRect(0, 0, display::kWidth, display::kHeight));
  zoom_ = zoom < 1 ? 1 : zoom;
  turnUpright_ = turnUpright;
  if (widget_) {
    widget_->resize(shownSize());
    widget_->update();
  }
}

void CQtDisplayBackend::paintFront(QPainter& painter, const QRect& target) {
  {
    // The newest picture becomes the shown one; the drawing thread gets the old one to fill.
    std::lock_guard lock(frontMutex_);
    if (!frontTaken_) {
      shown_.swap(front_);
      frontTaken_ = true;
    }
  }
  if (!turnUpright_) {
    painter.drawImage(QRect(target.topLeft(), source_.size() * zoom_), shown_, source_);
    return;
  }
  // The memory's right edge becomes the top: turn the painter back by a quarter.
  painter.save();
  painter.translate(target.left(), target.top() + source_.width() * zoom_);
  painter.rotate(-90);
  painter.drawImage(QRect(QPoint(0, 0), source_.size() * zoom_), shown_, source_);
  painter.restore();
}

QImage CQtDisplayBackend::front() const {
  std::lock_guard lock(frontMutex_);
  // Until the UI thread takes a picture it is in front_; after that shown_ is the newest, and
  // only the UI thread (this caller, or a paint it is not running now) changes it.
  return frontTaken_ ? shown_.copy() : front_.copy();
}
