// Any bytes as a live frame: the first byte picks the path (JPEG, codec, or a decoded picture of
// any size drawn directly) and the view, the rest is the frame. No path may read or write outside
// the frame, its slack, the picture, or the display.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/display.h"
#include "platform/display_memory_backend.h"
#include "video/codec/video_codec_library.h"
#include "video/frame_renderer.h"
#include "video/video_decoder.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {

class COpenGates final : public IDrawGates {
 public:
  bool disconnectRequested() const override { return false; }
  bool liveReady() const override { return true; }
  bool displayReady() const override { return true; }
};

struct Harness {
  Harness() {
    av_log_set_level(AV_LOG_QUIET);
    display.GXOpenDisplay(nullptr, 0);
    renderer.bind(0, &gates);
    decoder.bind(0, &gates);
  }
  CMemoryDisplayBackend backend;
  Display display{backend};
  COpenGates gates;
  CFrameRenderer renderer{display};
  CVideoDecoder decoder{display};
};

// The picture size of the first baseline or extended frame header; 0 when there is none.
uint64_t declaredArea(const uint8_t* data, size_t size) {
  for (size_t i = 0; i + 8 < size; ++i) {
    if (data[i] == 0xFF && data[i + 1] >= 0xC0 && data[i + 1] <= 0xC2)
      return uint64_t((data[i + 5] << 8) | data[i + 6]) *
             uint64_t((data[i + 7] << 8) | data[i + 8]);
  }
  return 0;
}

// Decoding a picture the size of a layout takes milliseconds under the sanitizers and would cap
// this target far below a thousand runs a second. Decoded pictures are kept as small as in the
// JPEG decoder's own target; the direct mode below draws pictures of every size in every layout.
constexpr uint64_t kLargestDecodedArea = 256 * 256;

uint16_t read16(const uint8_t* bytes) {
  return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

// A picture of any size up to 800 x 600, exactly as large as its size says (so the sanitizers
// see any read past it), drawn in any layout at any origin and in the layout its size selects.
void drawDirectly(Harness& harness, const uint8_t* data, size_t size) {
  if (size < 9) return;
  const int width = 1 + read16(data) % 800;
  const int height = 1 + read16(data + 2) % 600;
  const int x = static_cast<int16_t>(read16(data + 4));
  const int y = static_cast<int16_t>(read16(data + 6));
  const int layout = data[8] % 14 - 1;
  std::vector<uint8_t> pixels(size_t(width) * size_t(height) * 3);
  // The pixels repeat the rest of the input (copied in runs: a loop per byte would dominate).
  const uint8_t* content = data + 9;
  const size_t contentSize = size - 9;
  if (contentSize != 0) {
    for (size_t at = 0; at < pixels.size(); at += contentSize)
      std::memcpy(pixels.data() + at, content, std::min(contentSize, pixels.size() - at));
  }
  const BgrPicture picture{pixels.data(), width, height};
  uint16_t* memory = harness.display.GXBeginDraw();
  if (memory == nullptr) return;
  harness.renderer.blitPicture(picture, memory, x, y, layout);
  const LayoutChoice choice = harness.renderer.selectLayout(width, height);
  harness.renderer.blitPicture(picture, memory, choice.x, choice.y, choice.layout);
  harness.display.GXEndDraw();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Harness harness;
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  // The frame with the zeroed slack the connection guarantees after it.
  std::vector<uint8_t> frame(data + 1, data + size);
  const uint32_t length = static_cast<uint32_t>(frame.size());
  frame.resize(frame.size() + kFrameReadSlack, 0);
  if ((mode & 9) == 9) {
    harness.renderer.setFullScreen(mode & 2);
    drawDirectly(harness, data + 1, size - 1);
  } else if (mode & 1) {
    if (declaredArea(data + 1, size - 1) > kLargestDecodedArea) return 0;
    harness.renderer.setFullScreen(mode & 2);
    harness.renderer.drawJpegFrame(frame.data(), length);
  } else {
    if (mode & 2) {
      const DecChannelPlacement& full = kDecFullScreenView;
      DecChannelCreation(kDecViewerChannel, full.width, full.left, full.top, full.modeFlags,
                         full.last);
    }
    if (mode & 4) harness.decoder.endChannel();
    harness.decoder.decodeFrame(frame.data(), length);
  }
  return 0;
}
