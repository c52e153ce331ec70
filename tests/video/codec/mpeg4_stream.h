#pragma once
// Real MPEG-4 Part 2 streams for the tests: encoded here with FFmpeg, cut into the DVR's codec
// frames, and decoded independently with FFmpeg for comparison.
#include <cstdint>
#include <vector>

#include "video/draw_gates.h"

namespace testing_video {

struct EncodedPicture {
  std::vector<uint8_t> packet;  // as FFmpeg's encoder wrote it
  bool key = false;
};

// Encodes count pictures of a moving test pattern (no B-frames, a key picture every gop).
std::vector<EncodedPicture> encodeMpeg4(int width, int height, int count, int gop, int seed = 0);

// The DVR's codec frame for a packet: a 16-byte FrameHeader (marker 0x01, channel), then the
// coded data. Configuration is kept from the video object start on, renumbered to 00 00 01 01
// as the DVR sends it; anything before it (FFmpeg's visual object sequence header) is dropped.
std::vector<uint8_t> dvrFrame(const std::vector<uint8_t>& packet, uint8_t channel = 0);

// Frames for a whole stream.
std::vector<std::vector<uint8_t>> dvrFrames(const std::vector<EncodedPicture>& pictures);

// An independent FFmpeg decode of the packets, each picture scaled the way the library scales it
// to width x width*3/4 BGR, then turned into RGB565 (upright, rows top first).
class CReferenceDecoder {
 public:
  explicit CReferenceDecoder(int width);
  ~CReferenceDecoder();
  // The picture of this packet, or empty when none came out.
  std::vector<uint16_t> decode(const std::vector<uint8_t>& packet);

 private:
  struct State;
  State* state_;
  int width_;
};

// Extracts the area of the display memory at (left, top), width x height (row by row).
std::vector<uint16_t> displayArea(const std::vector<uint16_t>& memory, int left, int top, int width,
                                  int height);
// The full-screen picture read back upright: picture row r, column c is display row c,
// column 239 - r.
std::vector<uint16_t> turnedBack(const std::vector<uint16_t>& memory, int width, int height);

// Largest difference of any 5- or 6-bit component between two RGB565 pictures.
int maxComponentDifference(const std::vector<uint16_t>& a, const std::vector<uint16_t>& b);

// Draw gates the test sets directly.
class CTestGates final : public IDrawGates {
 public:
  bool disconnectRequested() const override { return disconnect; }
  bool liveReady() const override { return live; }
  bool displayReady() const override { return displayOk; }
  bool disconnect = false;
  bool live = true;
  bool displayOk = true;
};

}  // namespace testing_video
