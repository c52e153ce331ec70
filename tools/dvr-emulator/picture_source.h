#pragma once
// Where a channel's pictures come from: the synthetic scene, a folder of JPEG files, or a
// video file; every source delivers pictures at the channel's frame size.
#include <memory>
#include <string>

#include "ptz_camera.h"
#include "rgb_image.h"

namespace dvremu {

class PictureSource {
 public:
  virtual ~PictureSource() = default;
  // The next picture; `seconds` since start, `view` the camera position. False when the source
  // has nothing (the caller then shows a test card).
  virtual bool next(double seconds, const PtzPosition& view, uint64_t frameNumber,
                    RgbImage& out) = 0;
};

// Builds the source named by a channel setting ("scene", "jpeg-dir:PATH", "video:PATH");
// a source that can't be opened falls back to the scene, with the reason in *warning.
std::unique_ptr<PictureSource> makePictureSource(const std::string& sourceText, int channel,
                                                 int width, int height, std::string* warning);

}  // namespace dvremu
