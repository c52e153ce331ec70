#pragma once
// True when the viewer runs without a screen (Qt's offscreen or minimal platform).
bool isHeadlessPlatform();
