#include "ui/skin_pixel_font.h"

#include <QImage>

#include <cstdint>

namespace skin {
namespace {

// Five rows of three bits each, top row in the highest bits.
constexpr uint16_t glyph(int r0, int r1, int r2, int r3, int r4) {
  return static_cast<uint16_t>((r0 << 12) | (r1 << 9) | (r2 << 6) | (r3 << 3) | r4);
}

uint16_t glyphFor(QChar c) {
  switch (c.toUpper().unicode()) {
    case 'A':
      return glyph(2, 5, 7, 5, 5);
    case 'B':
      return glyph(6, 5, 6, 5, 6);
    case 'C':
      return glyph(3, 4, 4, 4, 3);
    case 'D':
      return glyph(6, 5, 5, 5, 6);
    case 'E':
      return glyph(7, 4, 6, 4, 7);
    case 'F':
      return glyph(7, 4, 6, 4, 4);
    case 'G':
      return glyph(3, 4, 5, 5, 3);
    case 'H':
      return glyph(5, 5, 7, 5, 5);
    case 'I':
      return glyph(7, 2, 2, 2, 7);
    case 'K':
      return glyph(5, 5, 6, 5, 5);
    case 'L':
      return glyph(4, 4, 4, 4, 7);
    case 'M':
      return glyph(5, 7, 7, 5, 5);
    case 'N':
      return glyph(6, 5, 5, 5, 5);
    case 'O':
      return glyph(2, 5, 5, 5, 2);
    case 'P':
      return glyph(6, 5, 6, 4, 4);
    case 'R':
      return glyph(6, 5, 6, 5, 5);
    case 'S':
      return glyph(3, 4, 2, 1, 6);
    case 'T':
      return glyph(7, 2, 2, 2, 2);
    case 'U':
      return glyph(5, 5, 5, 5, 7);
    case 'V':
      return glyph(5, 5, 5, 5, 2);
    case 'W':
      return glyph(5, 5, 7, 7, 5);
    case 'X':
      return glyph(5, 5, 2, 5, 5);
    case 'Y':
      return glyph(5, 5, 2, 2, 2);
    case '0':
      return glyph(7, 5, 5, 5, 7);
    case '1':
      return glyph(2, 6, 2, 2, 7);
    case '2':
      return glyph(6, 1, 2, 4, 7);
    case '3':
      return glyph(6, 1, 2, 1, 6);
    case '4':
      return glyph(5, 5, 7, 1, 1);
    case '5':
      return glyph(7, 4, 6, 1, 6);
    case '6':
      return glyph(3, 4, 7, 5, 7);
    case '7':
      return glyph(7, 1, 2, 2, 2);
    case '8':
      return glyph(7, 5, 7, 5, 7);
    case '9':
      return glyph(7, 5, 7, 1, 6);
    case '-':
      return glyph(0, 0, 7, 0, 0);
    default:
      return 0;
  }
}

}  // namespace

int pixelTextWidth(const QString& text, int scale) {
  return text.isEmpty() ? 0 : (static_cast<int>(text.size()) * 4 - 1) * scale;
}

void drawPixelText(QImage& image, QPoint origin, const QString& text, QColor colour, int scale) {
  const QRgb pixel = colour.rgba();
  int x0 = origin.x();
  for (const QChar c : text) {
    const uint16_t bits = glyphFor(c);
    for (int row = 0; row < 5; ++row)
      for (int col = 0; col < 3; ++col) {
        if ((bits >> (14 - row * 3 - col) & 1) == 0) continue;
        for (int dy = 0; dy < scale; ++dy)
          for (int dx = 0; dx < scale; ++dx) {
            const int x = x0 + col * scale + dx;
            const int y = origin.y() + row * scale + dy;
            if (image.valid(x, y)) image.setPixel(x, y, pixel);
          }
      }
    x0 += 4 * scale;
  }
}

}  // namespace skin
