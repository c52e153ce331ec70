#include "ui/skin_artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <functional>
#include <map>

#include "ui/skin_pixel_font.h"

namespace skin {
namespace {

// Palette: graphite body, cyan accent.
const QColor kTopBar(0x25, 0x2a, 0x30);
const QColor kTopBarLine(0x3a, 0x41, 0x49);
const QColor kStrip(0x1d, 0x21, 0x26);
const QColor kPanel(0x26, 0x2b, 0x31);
const QColor kAccent(0x19, 0xb5, 0xd1);
const QColor kAccentLight(0x37, 0xd0, 0xea);
const QColor kEngraving(0x3a, 0x41, 0x49);

// The four looks of a button: A normal, B pressed, C latched, D disabled.
enum class Look { Normal, Pressed, Latched, Disabled };

struct Face {
  QColor top, bottom, border, glyph;
};

Face faceFor(Look look) {
  switch (look) {
    case Look::Pressed:
      return {QColor(0x0f, 0x8a, 0xa1), QColor(0x0b, 0x6f, 0x82), kAccent, Qt::white};
    case Look::Latched:
      return {QColor(0x2b, 0x31, 0x38), QColor(0x24, 0x2a, 0x30), kAccent, kAccentLight};
    case Look::Disabled:
      return {QColor(0x2e, 0x33, 0x38), QColor(0x2a, 0x2e, 0x33), QColor(0x36, 0x3c, 0x42),
              QColor(0x5b, 0x63, 0x6b)};
    case Look::Normal:
      break;
  }
  return {QColor(0x4a, 0x52, 0x5c), QColor(0x3a, 0x41, 0x49), QColor(0x5a, 0x63, 0x6e),
          QColor(0xe9, 0xed, 0xf1)};
}

// Draws the glyph inside rect (already shifted for a pressed look) in the glyph colour.
using GlyphPainter = std::function<void(QImage&, QRect, QColor)>;

QImage button(QSize size, QColor surround, Look look, qreal radius, const GlyphPainter& glyph) {
  QImage image(size, QImage::Format_RGB32);
  image.fill(surround);
  const Face face = faceFor(look);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(0, 0, 0, size.height());
    gradient.setColorAt(0, face.top);
    gradient.setColorAt(1, face.bottom);
    painter.setPen(QPen(face.border, 1));
    painter.setBrush(gradient);
    painter.drawRoundedRect(QRectF(0.5, 0.5, size.width() - 1, size.height() - 1), radius, radius);
  }
  QRect inside = QRect(QPoint(0, 0), size);
  if (look == Look::Pressed) inside.translate(0, 1);
  glyph(image, inside, face.glyph);
  return image;
}

GlyphPainter label(const QString& text) {
  return [text](QImage& image, QRect rect, QColor colour) {
    const int x = rect.left() + (rect.width() - pixelTextWidth(text)) / 2;
    const int y = rect.top() + (rect.height() - 5) / 2;
    drawPixelText(image, QPoint(x, y), text, colour);
  };
}

GlyphPainter bigLabel(const QString& text) {
  return [text](QImage& image, QRect rect, QColor colour) {
    const int x = rect.left() + (rect.width() - pixelTextWidth(text, 2)) / 2;
    const int y = rect.top() + (rect.height() - 10) / 2;
    drawPixelText(image, QPoint(x, y), text, colour, 2);
  };
}

// Thick strokes through points given in a 0..1 box centred in the rect.
GlyphPainter strokes(std::vector<std::vector<QPointF>> lines, qreal boxSize, qreal width) {
  return [lines = std::move(lines), boxSize, width](QImage& image, QRect rect, QColor colour) {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const QPointF origin(rect.center().x() + 0.5 - boxSize / 2,
                         rect.center().y() + 0.5 - boxSize / 2);
    for (const auto& line : lines) {
      QPainterPath path(origin + line.front() * boxSize);
      for (size_t i = 1; i < line.size(); ++i) path.lineTo(origin + line[i] * boxSize);
      painter.drawPath(path);
    }
  };
}

// A solid triangle pointing in the direction (dx, dy), drawn without smoothing so it stays crisp.
GlyphPainter arrow(int dx, int dy) {
  return [dx, dy](QImage& image, QRect rect, QColor colour) {
    const QPoint c = rect.center();
    QPolygon triangle;
    if (dy != 0)
      triangle << QPoint(c.x() - 3, c.y() - dy) << QPoint(c.x() + 3, c.y() - dy)
               << QPoint(c.x(), c.y() + 2 * dy);
    else
      triangle << QPoint(c.x() - dx, c.y() - 3) << QPoint(c.x() - dx, c.y() + 3)
               << QPoint(c.x() + 2 * dx, c.y());
    QPainter painter(&image);
    painter.setPen(colour);
    painter.setBrush(colour);
    painter.drawPolygon(triangle);
  };
}

GlyphPainter speaker(bool sounding) {
  return [sounding](QImage& image, QRect rect, QColor colour) {
    QPainter painter(&image);
    painter.setPen(colour);
    painter.setBrush(colour);
    const int x = rect.left() + 2;
    const int y = rect.top() + rect.height() / 2;
    painter.drawRect(x, y - 1, 1, 2);
    painter.drawPolygon(QPolygon(
        {QPoint(x + 2, y - 1), QPoint(x + 4, y - 3), QPoint(x + 4, y + 3), QPoint(x + 2, y + 1)}));
    if (sounding) {
      painter.drawLine(x + 6, y - 1, x + 6, y + 1);
      painter.drawPoint(x + 7, y - 2);
      painter.drawPoint(x + 7, y + 2);
    } else {
      painter.drawLine(x + 6, y - 1, x + 7, y + 1);
      painter.drawLine(x + 6, y + 1, x + 7, y - 1);
    }
  };
}

// A family of four looks at consecutive ids: A, B, D, C (the order the resource ids use).
void addFamily(std::map<int, QImage>& images, int firstId, QSize size, QColor surround,
               qreal radius, const GlyphPainter& glyph) {
  images[firstId] = button(size, surround, Look::Normal, radius, glyph);
  images[firstId + 1] = button(size, surround, Look::Pressed, radius, glyph);
  images[firstId + 2] = button(size, surround, Look::Disabled, radius, glyph);
  images[firstId + 3] = button(size, surround, Look::Latched, radius, glyph);
}

// Slider track: black is the key colour and shows the window behind; the groove is never black.
QImage track(QColor groove) {
  QImage image(20, 9, QImage::Format_RGB32);
  image.fill(Qt::black);
  QPainter painter(&image);
  painter.fillRect(2, 3, 16, 3, groove);
  painter.fillRect(1, 4, 18, 1, groove);
  return image;
}

QImage thumb(QColor knob, QColor border) {
  QImage image(6, 9, QImage::Format_RGB32);
  image.fill(kTopBar);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(border, 1));
  painter.setBrush(knob);
  painter.drawRoundedRect(QRectF(0.5, 0.5, 5, 8), 1.5, 1.5);
  return image;
}

QImage background() {
  QImage image(kBackgroundWidth, kBackgroundHeight, QImage::Format_RGB32);
  image.fill(kPanel);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  // Top bar with a recessed field for the DVR's name.
  painter.fillRect(0, 0, kBackgroundWidth, 15, kTopBar);
  painter.fillRect(0, 15, kBackgroundWidth, 1, kTopBarLine);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x1a, 0x1d, 0x21));
  painter.drawRoundedRect(QRectF(38, 1.5, 71, 12), 4, 4);
  // Picture area (the live picture is drawn over it).
  painter.fillRect(13, 16, 216, 162, kTopBarLine);
  painter.fillRect(14, 17, 214, 160, QColor(0x0b, 0x0d, 0x0f));
  // Channel strip and control panel.
  painter.fillRect(0, 178, kBackgroundWidth, 27, kStrip);
  painter.fillRect(0, 205, kBackgroundWidth, 1, kTopBarLine);
  painter.setBrush(kStrip);
  painter.drawEllipse(QPointF(149.5, 227.5), 21, 21);
  painter.setBrush(QColor(0x2e, 0x34, 0x3b));
  painter.drawEllipse(QPointF(149.5, 227.5), 6, 6);
  painter.end();
  drawPixelText(image, QPoint((kBackgroundWidth - pixelTextWidth("PELLOXVIEW", 2)) / 2, 90),
                "PELLOXVIEW", QColor(0x1c, 0x20, 0x25), 2);
  drawPixelText(image, QPoint(kBackgroundWidth - pixelTextWidth("PELLOXVIEW") - 6, 258),
                "PELLOXVIEW", kEngraving);
  return image;
}

std::map<int, QImage> drawAll() {
  std::map<int, QImage> images;
  const auto pair = [&images](int normalId, QSize size, QColor surround,
                              const GlyphPainter& glyph) {
    images[normalId] = button(size, surround, Look::Normal, 2, glyph);
    images[normalId + 1] = button(size, surround, Look::Pressed, 2, glyph);
  };
  pair(137, {23, 9}, kTopBar, label("DISC"));  // Disconnect
  pair(139, {23, 9}, kTopBar, label("CONN"));  // Connect
  images[kBackground] = background();
  pair(142, {31, 9}, kTopBar, label("BOOK"));   // address book
  pair(144, {11, 9}, kTopBar, speaker(true));   // audio off (shown while audio plays)
  pair(146, {11, 9}, kTopBar, speaker(false));  // audio on (shown while muted)

  QImage marker(6, 4, QImage::Format_RGB32);
  marker.fill(kStrip);
  {
    QPainter painter(&marker);
    painter.setPen(kAccent);
    painter.setBrush(kAccent);
    painter.drawPolygon(QPolygon({QPoint(0, 0), QPoint(5, 0), QPoint(3, 3), QPoint(2, 3)}));
  }
  images[150] = marker;

  images[151] = track(kAccent);
  images[152] = track(QColor(0x4a, 0x52, 0x5c));
  images[153] = thumb(QColor(0xdf, 0xe4, 0xe8), QColor(0x8a, 0x93, 0x9c));
  images[154] = thumb(kAccentLight, QColor(0x0b, 0x6f, 0x82));

  const QSize big(28, 40);
  addFamily(images, 155, big, kPanel, 5,
            strokes({{{0.3, 0}, {0.8, 0.5}, {0.3, 1}}}, 12, 3));  // ">"
  addFamily(images, 159, big, kPanel, 5,
            strokes({{{0.7, 0}, {0.2, 0.5}, {0.7, 1}}}, 12, 3));                   // "<"
  addFamily(images, 191, big, kPanel, 5, strokes({{{0, 0.5}, {1, 0.5}}}, 12, 3));  // "-"
  addFamily(images, 195, big, kPanel, 5,
            strokes({{{0, 0.5}, {1, 0.5}}, {{0.5, 0}, {0.5, 1}}}, 12, 3));
  addFamily(images, 164, {13, 9}, kStrip, 2, arrow(0, 1));   // down
  addFamily(images, 170, {9, 13}, kStrip, 2, arrow(-1, 0));  // left
  addFamily(images, 175, {9, 13}, kStrip, 2, arrow(1, 0));   // right
  addFamily(images, 179, {13, 9}, kStrip, 2, arrow(0, -1));  // up

  // Presets 1..8: A 199+k, B 207+k, D 215+k, C 223+k.
  for (int k = 0; k < 8; ++k) {
    const GlyphPainter digit = bigLabel(QString::number(k + 1));
    images[199 + k] = button({13, 19}, kPanel, Look::Normal, 3, digit);
    images[207 + k] = button({13, 19}, kPanel, Look::Pressed, 3, digit);
    images[215 + k] = button({13, 19}, kPanel, Look::Disabled, 3, digit);
    images[223 + k] = button({13, 19}, kPanel, Look::Latched, 3, digit);
  }
  return images;
}

const std::map<int, QImage>& allImages() {
  static const std::map<int, QImage> images = drawAll();
  return images;
}

}  // namespace

QImage bitmap(int id) {
  const auto& images = allImages();
  const auto found = images.find(id);
  return found != images.end() ? found->second : QImage();
}

std::vector<int> bitmapIds() {
  std::vector<int> ids;
  for (const auto& [id, image] : allImages()) ids.push_back(id);
  return ids;
}

}  // namespace skin
