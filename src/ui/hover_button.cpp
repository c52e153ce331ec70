#include "ui/hover_button.h"

#include <QMouseEvent>
#include <QPainter>

#include "ui/skin_artwork.h"

CHoverButton::CHoverButton(QWidget* parent) : QAbstractButton(parent) {
  setFocusPolicy(Qt::NoFocus);
}

bool CHoverButton::loadImages(int normalId, int pressedId, int latchedId, int alternateId) {
  const QImage normal = skin::bitmap(normalId);
  const QImage pressed = skin::bitmap(pressedId);
  const QImage latched = skin::bitmap(latchedId);
  const QImage alternate = alternateId != 0 ? skin::bitmap(alternateId) : QImage();
  setImages(normal, pressed, latched, alternate);
  return !normal.isNull() && !pressed.isNull() && !latched.isNull() &&
         (alternateId == 0 || !alternate.isNull());
}

void CHoverButton::setImages(const QImage& normal, const QImage& pressed, const QImage& latched,
                             const QImage& alternate) {
  images_ = {normal, pressed, latched, alternate};
  if (!normal.isNull()) resize(normal.size());
  raise();
  update();
}

void CHoverButton::setState(int state) {
  state_ = state;
  update();
}

void CHoverButton::setPressedButtonQuery(std::function<const CHoverButton*()> query) {
  pressedButton_ = std::move(query);
}

int CHoverButton::imageToDraw() const {
  if (isDown() && !images_[1].isNull()) return 1;
  if (images_[0].isNull()) return -1;
  if (state_ < 0 || state_ > 3 || images_[static_cast<size_t>(state_)].isNull()) return -1;
  return state_;
}

QSize CHoverButton::sizeHint() const {
  return images_[0].isNull() ? QSize(16, 16) : images_[0].size();
}

// The background is never erased: the chosen image is copied unscaled at the top-left corner,
// clipped to the button; with no image the window behind shows through.
void CHoverButton::paintEvent(QPaintEvent*) {
  const int image = imageToDraw();
  if (image < 0) return;
  QPainter painter(this);
  painter.setClipRect(rect());
  painter.drawImage(QPoint(0, 0), images_[static_cast<size_t>(image)]);
}

void CHoverButton::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    state_ = 1;
    update();
  }
  QAbstractButton::mousePressEvent(event);
}

void CHoverButton::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QAbstractButton::mouseReleaseEvent(event);
    return;
  }
  if (pressedButton_ && pressedButton_() != this) {
    // Not the button the owner saw pressed: no click. Only the toolkit's own "held down" flag is
    // cleared, so the button doesn't stay painted as pressed.
    setDown(false);
    return;
  }
  restAfterRelease();
  QAbstractButton::mouseReleaseEvent(event);
}

void CHoverButton::notifyReleased() {
  restAfterRelease();
}

void CHoverButton::restAfterRelease() {
  state_ = latching_ ? 2 : 0;
  update();
}
