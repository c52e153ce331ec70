#pragma once
// The skin's bitmaps by resource id: the main window's background (141) and the images of its
// buttons and volume slider (137..230). They are drawn in code the first time they are asked for.
//
// UI thread only.
#include <QImage>

#include <vector>

namespace skin {

inline constexpr int kBackground = 141;
inline constexpr int kBackgroundWidth = 240;
inline constexpr int kBackgroundHeight = 268;

// The image with that id, or a null image for an id that has none.
QImage bitmap(int id);

// Every id that has an image, ascending.
std::vector<int> bitmapIds();

}  // namespace skin
