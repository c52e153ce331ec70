#pragma once
// Where a picture goes in its tile and at which reduced JPEG scale it is decoded.
#include <QRect>
#include <QSize>

// The largest rectangle of the source's aspect ratio inside the tile, centred (the rest of the
// tile is the black letterbox). Empty when either size is empty.
QRect letterboxRect(QSize source, QSize tile);

// The largest reduction (8, 4, 2, else 1) at which a picture of size source, decoded to
// ceil(width / d) x ceil(height / d), still covers target in both directions, so it is only ever
// scaled down afterwards (or not at all).
int jpegScaleDenominator(QSize source, QSize target);
