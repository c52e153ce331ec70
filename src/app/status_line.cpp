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

void CStatusLine::paintEvent(QPaintEvent*) {
  if (text_.isEmpty()) return;
  QPainter painter(this);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  painter.setFont(font);
  // A text longer than the line (a file's path) keeps its start and its end.
  const QFontMetrics metrics(font);
  const QString shown = metrics.elidedText(text_, Qt::ElideMiddle, rect().width());
  if (!overPicture_) {
    painter.setPen(QColor::fromRgb(kTextColour));
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, shown);
    return;
  }
  // A light text on a translucent dark band reads over any picture.
  const int width = std::min(rect().width(), metrics.horizontalAdvance(shown) + 8);
  const QRect band((rect().width() - width) / 2, 0, width, rect().height());
  painter.fillRect(band, QColor(0, 0, 0, 150));
  painter.setPen(QColor(235, 235, 235));
  painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, shown);
}
