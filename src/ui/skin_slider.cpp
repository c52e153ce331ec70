#include "ui/skin_slider.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "platform/messages.h"
#include "ui/control_id.h"
#include "ui/skin_artwork.h"

namespace {

// With transparency, pixels of the key colour become fully transparent.
QImage keyed(const QImage& image, bool transparent, uint32_t keyColour, int keyX, int keyY) {
  if (image.isNull() || !transparent) return image.convertToFormat(QImage::Format_RGB32);
  QImage result = image.convertToFormat(QImage::Format_ARGB32);
  QRgb key;
  if (keyColour == CSkinSlider::kKeyFromPixel) {
    key = result.valid(keyX, keyY) ? result.pixel(keyX, keyY) : qRgb(0, 0, 0);
  } else {
    key = qRgb(keyColour & 0xFF, (keyColour >> 8) & 0xFF, (keyColour >> 16) & 0xFF);
  }
  for (int y = 0; y < result.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
    for (int x = 0; x < result.width(); ++x)
      if ((line[x] & 0xFFFFFF) == (key & 0xFFFFFF)) line[x] = 0;
  }
  return result;
}

}  // namespace

CSkinSlider::CSkinSlider(QWidget* parent) : QWidget(parent) {}

int CSkinSlider::setTrackImages(int trackId, int filledId, bool transparent, uint32_t keyColour,
                                int keyX, int keyY) {
  const QImage filled = filledId != 0 ? skin::bitmap(filledId) : QImage();
  if (filledId != 0 && filled.isNull()) {
    track_ = trackFilled_ = QImage();
    return 0;
  }
  return setTrackImages(skin::bitmap(trackId), filled, transparent, keyColour, keyX, keyY);
}

int CSkinSlider::setThumbImages(int thumbId, int draggedId, bool transparent, uint32_t keyColour,
                                int keyX, int keyY) {
  const QImage dragged = draggedId != 0 ? skin::bitmap(draggedId) : QImage();
  if (draggedId != 0 && dragged.isNull()) {
    thumb_ = thumbDragged_ = QImage();
    return 0;
  }
  return setThumbImages(skin::bitmap(thumbId), dragged, transparent, keyColour, keyX, keyY);
}

int CSkinSlider::setTrackImages(const QImage& track, const QImage& filled, bool transparent,
                                uint32_t keyColour, int keyX, int keyY) {
  if (track.isNull()) {
    track_ = trackFilled_ = QImage();
    return 0;
  }
  trackTransparent_ = transparent;
  track_ = keyed(track, transparent, keyColour, keyX, keyY);
  trackFilled_ = keyed(filled, transparent, keyColour, keyX, keyY);
  resize(track_.size());
  trackWidth_ = track_.width();
  trackHeight_ = track_.height();
  update();
  return 1;
}

int CSkinSlider::setThumbImages(const QImage& thumb, const QImage& dragged, bool transparent,
                                uint32_t keyColour, int keyX, int keyY) {
  if (thumb.isNull()) {
    thumb_ = thumbDragged_ = QImage();
    return 0;
  }
  // The thumb is always drawn opaquely; its key colour only matters to its mask.
  (void)transparent;
  (void)keyColour;
  (void)keyX;
  (void)keyY;
  thumb_ = thumb.convertToFormat(QImage::Format_RGB32);
  thumbDragged_ = dragged.isNull() ? QImage() : dragged.convertToFormat(QImage::Format_RGB32);
  thumbWidth_ = thumb_.width();
  thumbHeight_ = thumb_.height();
  if (track_.isNull()) {
    trackWidth_ = width();
    trackHeight_ = height();
  }
  update();
  return 1;
}

void CSkinSlider::clampPosition() {
  position_ = std::max(minimum_, std::min(position_, maximum_));
}

void CSkinSlider::setRange(int minimum, int maximum, bool redraw) {
  minimum_ = minimum;
  maximum_ = maximum;
  clampPosition();
  if (redraw) update();
}

void CSkinSlider::setRangeMin(int minimum, bool redraw) {
  setRange(minimum, maximum_, redraw);
}

void CSkinSlider::setRangeMax(int maximum, bool redraw) {
  setRange(minimum_, maximum, redraw);
}

void CSkinSlider::setPosition(int position) {
  position_ = position;
  clampPosition();
  update();
}

void CSkinSlider::setMargins(int left, int top, int right, int bottom) {
  marginLeft_ = left;
  marginTop_ = top;
  marginRight_ = right;
  marginBottom_ = bottom;
  update();
}

int CSkinSlider::thumbCentreFor(int position) const {
  const int offset = thumbWidth_ / 2 + marginLeft_;
  if (!hasMapping()) return offset;
  const double fraction =
      (static_cast<double>(position) - minimum_) / (static_cast<double>(maximum_) - minimum_);
  // Rounded rather than truncated: positionFor truncates too, and two truncations would leave the
  // thumb a pixel short of where it was pressed or dragged.
  return static_cast<int>(std::lround(fraction * span())) + offset;
}

int CSkinSlider::positionFor(int thumbCentre) const {
  if (!hasMapping()) return minimum_;
  const double along = static_cast<double>(thumbCentre - thumbWidth_ / 2 - marginLeft_) / span();
  const double position = std::trunc(along * (static_cast<double>(maximum_) - minimum_) + minimum_);
  // A centre outside the travel maps outside the range; keep the result representable.
  return static_cast<int>(
      std::clamp(position, static_cast<double>(minimum_), static_cast<double>(maximum_)));
}

void CSkinSlider::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const int centre = thumbCentre();
  if (!track_.isNull()) {
    if (!trackFilled_.isNull()) {
      const int split = std::clamp(centre, 0, trackWidth_);
      painter.drawImage(QPoint(0, 0), trackFilled_, QRect(0, 0, split, trackFilled_.height()));
      painter.drawImage(QPoint(split, 0), track_,
                        QRect(split, 0, track_.width() - split, track_.height()));
    } else {
      painter.drawImage(QPoint(0, 0), track_);
    }
  }
  if (!thumb_.isNull()) {
    const QImage& thumb = dragging_ && !thumbDragged_.isNull() ? thumbDragged_ : thumb_;
    painter.drawImage(QPoint(centre - thumbWidth_ / 2, marginTop_), thumb);
  }
}

void CSkinSlider::dragTo(int mouseX) {
  const int low = marginLeft_ + thumbWidth_ / 2;
  const int high = trackWidth_ - thumbWidth_ / 2 - marginRight_;
  const int x = std::max(low, std::min(mouseX - grabOffset_, high));
  if (x != thumbCentre()) setPosition(positionFor(x));
}

void CSkinSlider::mousePressEvent(QMouseEvent* event) {
  if (!enabled_ || event->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(event);
    return;
  }
  // The toolkit keeps the mouse with this widget until the button is released.
  dragging_ = true;
  const int mouseX = event->position().toPoint().x();
  const int centre = thumbCentre();
  // A press beside the thumb makes it jump there; on the thumb it keeps the grab point.
  grabOffset_ = std::abs(mouseX - centre) > thumbWidth_ / 2 ? 0 : mouseX - centre;
  dragTo(mouseX);
  update();
  event->accept();
}

void CSkinSlider::mouseMoveEvent(QMouseEvent* event) {
  if (enabled_ && dragging_) dragTo(event->position().toPoint().x());
  QWidget::mouseMoveEvent(event);
}

void CSkinSlider::mouseReleaseEvent(QMouseEvent* event) {
  // Only a release that ends a drag reports a position.
  if (!enabled_ || !dragging_ || event->button() != Qt::LeftButton) {
    QWidget::mouseReleaseEvent(event);
    return;
  }
  dragging_ = false;
  update();
  platform::postMessage(notifyWindow_, msg::kVolumeChanged, static_cast<uintptr_t>(controlId(this)),
                        static_cast<intptr_t>(position_));
  event->accept();
}

void CSkinSlider::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::EnabledChange) return;
  enabled_ = isEnabled();
  if (!enabled_ && dragging_) {
    dragging_ = false;  // the drag ends without a report
    if (mouseGrabber() == this) releaseMouse();
  }
  update();
}
