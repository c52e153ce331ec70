#pragma once
// MPEG-4 Part 2 encoding with FFmpeg, shaped as the DVR sends codec frames: a key frame comes
// with the configuration (00 00 01 01, then the VOL header), every other frame starts at its
// picture start code 00 00 01 B6.
#include <cstdint>
#include <memory>
#include <vector>

#include "rgb_image.h"

namespace dvremu {

class Mpeg4Encoder {
 public:
  Mpeg4Encoder();
  ~Mpeg4Encoder();
  Mpeg4Encoder(const Mpeg4Encoder&) = delete;
  Mpeg4Encoder& operator=(const Mpeg4Encoder&) = delete;

  // gop: frames from one key frame to the next.
  bool open(int width, int height, int fps, int gop);
  // Encodes one picture of the opened size; *keyFrame tells whether the configuration leads.
  bool encode(const RgbImage& image, std::vector<uint8_t>* out, bool* keyFrame);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace dvremu
