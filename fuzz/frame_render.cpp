// Any bytes as a live frame: the first byte picks the path (JPEG or codec) and the view, the
// rest is the frame. Neither path may read or write outside the frame, its slack, or the display.
#include <cstddef>
#include <cstdint>
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Harness harness;
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  // The frame with the zeroed slack the connection guarantees after it.
  std::vector<uint8_t> frame(data + 1, data + size);
  const uint32_t length = static_cast<uint32_t>(frame.size());
  frame.resize(frame.size() + kFrameReadSlack, 0);
  if (mode & 1) {
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
