#pragma once
// The twelve fixed ways a decoded JPEG picture is put into the display memory: full screen
// (240 source rows of 320 pixels, turned 90 degrees clockwise over the whole display) or the
// window's 214 x 160 picture area, each for 704- or 352-wide pictures and their 640- and
// 320-wide relatives.
#include <cstdint>

// A decoded picture: 3 bytes per pixel (blue, green, red), rows of width * 3 bytes, top first.
struct BgrPicture {
  const uint8_t* pixels = nullptr;
  int width = 0;
  int height = 0;
};

struct LayoutChoice {
  int layout = -1;  // -1: the size has no layout
  int x = 0;        // picture-area origin (window layouts only)
  int y = 0;
};

namespace layout {
inline constexpr int kNone = -1;
inline constexpr int kWindowLeft = 14;
inline constexpr int kWindowTop = 43;
inline constexpr int kWindowWidth = 214;
inline constexpr int kWindowHeight = 160;
inline constexpr int kFullRows = 240;     // source rows used, one per display column
inline constexpr int kFullColumns = 320;  // source pixels per row used, one per display row
}  // namespace layout

// The layout for a picture size in the full-screen or the window view.
LayoutChoice selectFrameLayout(int width, int height, bool fullScreen);

// Draws the picture in the layout. Window layouts draw at (x, y); full-screen layouts ignore it.
// Draws nothing for an unknown layout, an origin that would put the area off the display, or a
// picture too small for the layout: it never reads outside the picture or writes outside the
// area. Returns whether it drew.
bool blitFrameLayout(const BgrPicture& picture, uint16_t* displayMemory, int x, int y, int layout);
