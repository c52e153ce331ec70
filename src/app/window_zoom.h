#pragma once
// The whole window's zoom (1..4), remembered between runs in the data directory's
// "pelloxview.conf". Qt scales everything by it; images stay sharp (no smoothing).
// Without a remembered zoom the screen's own scale applies (Qt's high-DPI scaling).

// 0 when none is remembered (or the file says nothing usable).
int rememberedZoom();
// Remembers zoom for the next runs; false when it can't be written.
bool rememberZoom(int zoom);
