#pragma once
// Where a decoder channel puts its picture in the display memory.
#include <cstdint>

struct CodecGeometry {
  int width = 0;   // picture width in pixels
  int height = 0;  // picture height: width * 3 / 4
  int left = 0;
  int top = 0;
  bool upright = true;  // false: turned 90 degrees clockwise over the display

  // The geometry DecChannelCreation describes, or false when it would not fit the display.
  static bool fromCreation(int width, int left, int top, uint32_t modeFlags, CodecGeometry& out);
};

// Writes a width x height BGR picture (stride bytes per row) into the display memory as RGB565
// at the geometry's place.
void writeBgrPicture(const CodecGeometry& geometry, const uint8_t* bgr, int stride,
                     uint16_t* displayMemory);
