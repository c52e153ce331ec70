#include "monitor/tile_widget.h"

#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>

#include <algorithm>

#include "monitor/tile_geometry.h"

namespace {
constexpr int kFrame = 2;  // the focus frame's width, kept free on every tile so none jumps
constexpr int kMargin = 6;

void drawShadowedText(QPainter& painter, const QRect& rect, int flags, const QString& text,
                      const QColor& colour) {
  painter.setPen(QColor(0, 0, 0, 200));
  painter.drawText(rect.translated(1, 1), flags, text);
  painter.setPen(colour);
  painter.drawText(rect, flags, text);
}
}  // namespace

CTileWidget::CTileWidget(int index, QWidget* parent) : QWidget(parent), index_(index) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::NoFocus);
  setObjectName(QStringLiteral("tile%1").arg(index + 1));
}

QString CTileWidget::channelName(int channel) {
  return QStringLiteral("CH %1").arg(channel + 1);
}

void CTileWidget::setChannel(int channel) {
  if (channel == channel_) return;
  channel_ = channel;
  picture_ = QImage();
  painted_ = true;
  stateText_.clear();
  update();
}

void CTileWidget::setPicture(const QImage& picture, uint64_t sequence,
                             std::chrono::steady_clock::time_point arrival) {
  if (!painted_) ++unpainted_;
  picture_ = picture;
  sequence_ = sequence;
  arrival_ = arrival;
  painted_ = picture_.isNull();
  update();
}

void CTileWidget::clearPicture() {
  if (picture_.isNull()) return;
  picture_ = QImage();
  painted_ = true;
  update();
}

void CTileWidget::setStateText(const QString& text) {
  if (text == stateText_) return;
  stateText_ = text;
  update();
}

void CTileWidget::setFramesPerSecond(int fps) {
  if (fps == fps_) return;
  fps_ = fps;
  update();
}

void CTileWidget::setFocused(bool focused) {
  if (focused == focused_) return;
  focused_ = focused;
  update();
}

void CTileWidget::setRecording(bool recording) {
  if (recording == recording_) return;
  recording_ = recording;
  update();
}

QRect CTileWidget::pictureRect() const {
  return rect().adjusted(kFrame, kFrame, -kFrame, -kFrame);
}

void CTileWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect area = pictureRect();
  // Each pixel is written once: the frame around the picture, then the picture (it carries its
  // own letterbox bars) or black. A tile that fills a screen is 8 MB a paint.
  const QColor frame = focused_ ? QColor(kFocusColour) : QColor(24, 24, 24);
  const QRect whole = rect();
  painter.fillRect(QRect(whole.left(), whole.top(), whole.width(), kFrame), frame);
  painter.fillRect(QRect(whole.left(), area.bottom() + 1, whole.width(), kFrame), frame);
  painter.fillRect(QRect(whole.left(), area.top(), kFrame, area.height()), frame);
  painter.fillRect(QRect(area.right() + 1, area.top(), kFrame, area.height()), frame);
  if (picture_.size() == area.size()) {
    painter.drawImage(area.topLeft(), picture_);
  } else if (picture_.isNull()) {
    painter.fillRect(area, Qt::black);
  } else {
    // A picture to enlarge, or one made for the tile's previous size until the next one comes:
    // scaled into its letterbox, the bars beside it black.
    const QRect target = letterboxRect(picture_.size(), area.size()).translated(area.topLeft());
    const QRegion bars = QRegion(area).subtracted(QRegion(target));
    for (const QRect& bar : bars) painter.fillRect(bar, Qt::black);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, picture_);
  }
  if (!picture_.isNull()) {
    if (!painted_) {
      painted_ = true;
      if (observer_ != nullptr && *observer_) (*observer_)({index_, channel_, sequence_, arrival_});
    }
  }
  if (channel_ < 0) return;
  QFont font = painter.font();
  font.setPixelSize(std::clamp(area.height() / 16, 10, 18));
  font.setBold(true);
  painter.setFont(font);
  const QRect text = area.adjusted(kMargin, kMargin, -kMargin, -kMargin);
  int nameLeft = text.left();
  if (recording_) {
    const int dot = font.pixelSize();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(kRecordingColour));
    painter.drawEllipse(QRect(text.left(), text.top() + 1, dot - 2, dot - 2));
    nameLeft += dot + 2;
  }
  drawShadowedText(painter, QRect(nameLeft, text.top(), text.width(), text.height()),
                   Qt::AlignLeft | Qt::AlignTop, channelName(channel_), Qt::white);
  if (fps_ >= 0) {
    drawShadowedText(painter, text, Qt::AlignRight | Qt::AlignTop,
                     QStringLiteral("%1 fps").arg(fps_), QColor(255, 230, 120));
  }
  if (!stateText_.isEmpty()) {
    drawShadowedText(painter, area, Qt::AlignCenter, stateText_, QColor(230, 230, 230));
  }
}

void CTileWidget::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit pressed(index_);
  QWidget::mousePressEvent(event);
}

void CTileWidget::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit doubleClicked(index_);
}

void CTileWidget::contextMenuEvent(QContextMenuEvent* event) {
  emit pressed(index_);
  emit menuRequested(index_, event->globalPos());
}
