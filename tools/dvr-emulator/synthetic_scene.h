#pragma once
// A camera's synthetic view: a scene twice the frame size in each direction, seen through the
// PTZ viewport, with a moving object and an overlay of channel, clock and camera position.
#include <cstdint>

#include "ptz_camera.h"
#include "rgb_image.h"

namespace dvremu {

class SyntheticScene {
 public:
  SyntheticScene(int channel, int width, int height);
  // The view at `seconds` since start; frameNumber is printed in the overlay.
  void render(double seconds, const PtzPosition& view, uint64_t frameNumber, RgbImage& out) const;

 private:
  void paintWorld();

  int channel_;
  int width_, height_;
  RgbImage world_;  // 2 * width x 2 * height, painted once
};

}  // namespace dvremu
