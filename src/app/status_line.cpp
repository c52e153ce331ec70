#include "app/status_line.h"

#include <QPainter>
#include <QPainterPath>

CStatusLine::CStatusLine(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_NoSystemBackground);
}

void CStatusLine::setText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  update();
}

void CStatusLine::setOverPicture(bool overPicture) {
  if (overPicture == overPicture_) return;
  overPicture_ = overPicture;
  update();
}

void CStatusLine::setRecordingMark(bool shown) {
  if (shown == recordingMark_) return;
  recordingMark_ = shown;
  update();
}

void CStatusLine::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (recordingMark_) {
    // The text moves aside for it, so a long text never hides it.
    constexpr int kDiameter = 8;
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgb(kRecordingMarkColour));
    painter.drawEllipse(QRect(2, (height() - kDiameter) / 2, kDiameter, kDiameter));
    painter.setRenderHint(QPainter::Antialiasing, false);
  }
  if (text_.isEmpty()) return;
  const QRect area = recordingMark_ ? rect().adjusted(12, 0, 0, 0) : rect();
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  painter.setFont(font);
  // A text longer than the line (a file's path) keeps its start and its end.
  const QFontMetrics metrics(font);
  const QString shown = metrics.elidedText(text_, Qt::ElideMiddle, area.width());
  if (!overPicture_) {
    painter.setPen(QColor::fromRgb(kTextColour));
    painter.drawText(area, Qt::AlignCenter | Qt::TextSingleLine, shown);
    return;
  }
  // A light text on a translucent dark band reads over any picture.
  const int width = std::min(area.width(), metrics.horizontalAdvance(shown) + 8);
  const QRect band(area.left() + (area.width() - width) / 2, 0, width, area.height());
  painter.fillRect(band, QColor(0, 0, 0, 150));
  painter.setPen(QColor(235, 235, 235));
  painter.drawText(area, Qt::AlignCenter | Qt::TextSingleLine, shown);
}
