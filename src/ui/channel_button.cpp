#include "ui/channel_button.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>

CChannelButton::CChannelButton(QWidget* parent) : QAbstractButton(parent) {
  setFocusPolicy(Qt::NoFocus);
}

void CChannelButton::setCaption(const QString& caption) {
  if (caption.isEmpty()) return;
  caption_ = caption;
  update();
}

void CChannelButton::setState(int state) {
  state_ = state;
  update();
}

void CChannelButton::setFrameColors(ColourRef normal, ColourRef pressed, ColourRef active,
                                    ColourRef disabled, ColourRef fill) {
  frameNormal_ = normal;
  framePressed_ = pressed;
  frameActive_ = active;
  frameDisabled_ = disabled;
  fill_ = fill;
  update();
}

void CChannelButton::setTextColors(ColourRef normal, ColourRef pressed, ColourRef active,
                                   ColourRef disabled) {
  textNormal_ = normal;
  textPressed_ = pressed;
  textActive_ = active;
  textDisabled_ = disabled;
  update();
}

std::pair<ColourRef, ColourRef> CChannelButton::chosenColours() const {
  if (isDown() && framePressed_ != kUnsetColour) return {framePressed_, textPressed_};
  if (!enabled_) return {frameDisabled_, textDisabled_};
  switch (state_) {
    case 0:
      return {frameNormal_, textNormal_};
    case 1:
      return {frameActive_, textActive_};
    case 2:
      return {framePressed_, textPressed_};
    case 3:
      return {frameDisabled_, textDisabled_};
    default:
      return {kUnsetColour, kUnsetColour};
  }
}

// An unset colour (or a state outside 0..3) falls back to the initial look.
ColourRef CChannelButton::currentFrameColour() const {
  const ColourRef frame = chosenColours().first;
  return frame != kUnsetColour ? frame : kDefaultFrame;
}

ColourRef CChannelButton::currentTextColour() const {
  const ColourRef text = chosenColours().second;
  return text != kUnsetColour ? text : kDefaultTextNormal;
}

void CChannelButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect whole = rect();
  painter.fillRect(whole, toQColor(currentFrameColour()));  // the 2-pixel frame
  painter.fillRect(whole.adjusted(2, 2, -2, -2),
                   toQColor(fill_ != kUnsetColour ? fill_ : kDefaultFrame));
  painter.setPen(toQColor(currentTextColour()));
  painter.drawText(whole, Qt::AlignCenter | Qt::TextSingleLine, caption_);
}

void CChannelButton::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) setState(1);
  QAbstractButton::mousePressEvent(event);
}

void CChannelButton::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) setState(0);
  QAbstractButton::mouseReleaseEvent(event);
}

void CChannelButton::changeEvent(QEvent* event) {
  QAbstractButton::changeEvent(event);
  if (event->type() == QEvent::EnabledChange) {
    enabled_ = isEnabled();
    update();
  }
}
