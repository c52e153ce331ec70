#pragma once
// A 3 x 5 pixel font for the skin's tiny labels, where no outline font stays legible.
#include <QColor>
#include <QPoint>
#include <QString>

class QImage;

namespace skin {
// Width in pixels of text drawn at the given scale (characters are 3 wide plus 1 of spacing).
int pixelTextWidth(const QString& text, int scale = 1);
// Draws upper-case letters, digits, '-' and spaces with their top-left corner at origin.
void drawPixelText(QImage& image, QPoint origin, const QString& text, QColor colour, int scale = 1);
}  // namespace skin
