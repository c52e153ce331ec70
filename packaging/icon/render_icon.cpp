// Renders the application icon in the skin's palette and pixel font, one PNG per size:
//   pelloxview-icon OUTDIR SIZE...   writes OUTDIR/SIZE/pelloxview.png
// Run at build time; the build installs the results into the hicolor icon theme.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>

#include <cstdio>

#include "ui/skin_pixel_font.h"

namespace {

// The skin's graphite body and cyan accent.
const QColor kBodyTop(0x3a, 0x41, 0x49);
const QColor kBodyBottom(0x1d, 0x21, 0x26);
const QColor kBorder(0x5a, 0x63, 0x6e);
const QColor kScreen(0x10, 0x13, 0x17);
const QColor kAccent(0x19, 0xb5, 0xd1);
const QColor kAccentLight(0x37, 0xd0, 0xea);
const QColor kKey(0x4a, 0x52, 0x5c);

// A viewer body with its picture area showing "PV" and a strip of channel keys, one latched.
QImage renderIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  const qreal s = size / 64.0;  // drawn on a 64-unit grid
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient body(0, 0, 0, size);
    body.setColorAt(0, kBodyTop);
    body.setColorAt(1, kBodyBottom);
    painter.setPen(QPen(kBorder, std::max(1.0, s)));
    painter.setBrush(body);
    painter.drawRoundedRect(QRectF(2 * s, 2 * s, 60 * s, 60 * s), 11 * s, 11 * s);
    painter.setPen(QPen(kAccent, std::max(1.0, 1.5 * s)));
    painter.setBrush(kScreen);
    painter.drawRoundedRect(QRectF(8 * s, 9 * s, 48 * s, 32 * s), 3 * s, 3 * s);
    for (int key = 0; key < 4; ++key) {
      painter.setPen(Qt::NoPen);
      painter.setBrush(key == 1 ? kAccent : kKey);
      painter.drawRoundedRect(QRectF((9 + key * 12) * s, 47 * s, 10 * s, 9 * s), 2 * s, 2 * s);
    }
  }
  // The pixel font stays crisp at whole-number scales only.
  const int scale = std::max(1, size / 20);
  const QString label = QStringLiteral("PV");
  const int x = (size - skin::pixelTextWidth(label, scale)) / 2;
  const int y = static_cast<int>(25 * s) - 5 * scale / 2;
  skin::drawPixelText(image, QPoint(x, y), label, kAccentLight, scale);
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: pelloxview-icon OUTDIR SIZE...\n");
    return 2;
  }
  const QString outDir = QString::fromLocal8Bit(argv[1]);
  for (int i = 2; i < argc; ++i) {
    const int size = QString::fromLocal8Bit(argv[i]).toInt();
    if (size < 16 || size > 1024) {
      std::fprintf(stderr, "pelloxview-icon: bad size '%s'\n", argv[i]);
      return 2;
    }
    const QString dir = outDir + QStringLiteral("/%1").arg(size);
    if (!QDir().mkpath(dir) || !renderIcon(size).save(dir + QStringLiteral("/pelloxview.png"))) {
      std::fprintf(stderr, "pelloxview-icon: cannot write %s\n", qPrintable(dir));
      return 1;
    }
  }
  return 0;
}
