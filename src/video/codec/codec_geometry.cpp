#include "video/codec/codec_geometry.h"

#include "platform/display.h"
#include "video/codec/video_codec_library.h"
#include "video/rgb565.h"

bool CodecGeometry::fromCreation(int width, int left, int top, uint32_t modeFlags,
                                 CodecGeometry& out) {
  if (width < 16 || left < 0 || top < 0) return false;
  CodecGeometry geometry;
  geometry.width = width;
  geometry.height = width * 3 / 4;
  geometry.left = left;
  geometry.top = top;
  geometry.upright = (modeFlags & kDecModeUpright) != 0;
  const bool fits =
      geometry.upright
          ? left + geometry.width <= display::kWidth && top + geometry.height <= display::kHeight
          : left + geometry.width <= display::kHeight && top + geometry.height <= display::kWidth;
  if (!fits) return false;
  out = geometry;
  return true;
}

void writeBgrPicture(const CodecGeometry& geometry, const uint8_t* bgr, int stride,
                     uint16_t* displayMemory) {
  if (geometry.upright) {
    for (int r = 0; r < geometry.height; ++r) {
      const uint8_t* source = bgr + r * stride;
      uint16_t* target = displayMemory + (geometry.top + r) * display::kWidth + geometry.left;
      for (int c = 0; c < geometry.width; ++c, source += 3) *target++ = rgb565(source);
    }
    return;
  }
  // Picture row r becomes display column 239 - top - r, its pixel c display row left + c.
  for (int r = 0; r < geometry.height; ++r) {
    const uint8_t* source = bgr + r * stride;
    uint16_t* target =
        displayMemory + geometry.left * display::kWidth + (display::kWidth - 1 - geometry.top - r);
    for (int c = 0; c < geometry.width; ++c, source += 3, target += display::kWidth) {
      *target = rgb565(source);
    }
  }
}
