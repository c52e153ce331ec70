// Live video drawing speed: JPEG frames (decode + layout + RGB565) in both views, the layouts
// alone, and the codec path (MPEG-4 decode + scale + RGB565) per frame.
#include <benchmark/benchmark.h>

#include <cstring>

#include "platform/display.h"
#include "platform/display_memory_backend.h"
#include "video/codec/mpeg4_stream.h"
#include "video/frame_layouts.h"
#include "video/frame_renderer.h"
#include "video/render/test_jpeg.h"
#include "video/video_decoder.h"

using namespace testing_video;

namespace {

struct OpenDisplay {
  OpenDisplay() { display.GXOpenDisplay(nullptr, 0); }
  CMemoryDisplayBackend backend;
  Display display{backend};
  CTestGates gates;
};

void drawJpeg(benchmark::State& state, bool fullScreen) {
  OpenDisplay open;
  CFrameRenderer renderer(open.display);
  renderer.bind(0, &open.gates);
  renderer.setFullScreen(fullScreen ? 1 : 0);
  const JpegFrame pristine(encodeJpeg(testScene(704, 480), 704, 480, 85));
  JpegFrame frame = pristine;
  for (auto _ : state) {
    // The decoder works in place, so every round starts from the frame as received.
    std::memcpy(frame.data(), pristine.bytes.data(), pristine.bytes.size());
    if (!renderer.drawJpegFrame(frame.data(), frame.length)) state.SkipWithError("not drawn");
  }
  state.SetLabel(std::to_string(pristine.length) + " byte frames");
}

void BM_DrawJpegFrame704x480Window(benchmark::State& state) {
  drawJpeg(state, false);
}
void BM_DrawJpegFrame704x480FullScreen(benchmark::State& state) {
  drawJpeg(state, true);
}
BENCHMARK(BM_DrawJpegFrame704x480Window)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrawJpegFrame704x480FullScreen)->Unit(benchmark::kMillisecond);

void BM_BlitLayout(benchmark::State& state) {
  const int layoutCode = static_cast<int>(state.range(0));
  const std::vector<uint8_t> picture = testScene(704, 480);
  std::vector<uint16_t> memory(display::kPixels);
  for (auto _ : state) {
    blitFrameLayout({picture.data(), 704, 480}, memory.data(), 14, 43, layoutCode);
    benchmark::DoNotOptimize(memory.data());
  }
}
BENCHMARK(BM_BlitLayout)->Arg(4)->Arg(1)->Unit(benchmark::kMicrosecond);

void decodeCodecFrames(benchmark::State& state, int width, int height) {
  OpenDisplay open;
  CVideoDecoder decoder(open.display);
  decoder.bind(0, &open.gates);
  const auto frames = dvrFrames(encodeMpeg4(width, height, 50, 25));
  std::vector<std::vector<uint8_t>> buffers;
  for (const auto& frame : frames) {
    buffers.push_back(frame);
    buffers.back().resize(frame.size() + kFrameReadSlack, 0);
  }
  size_t next = 0;
  for (auto _ : state) {
    const auto& frame = frames[next];
    if (!decoder.decodeFrame(buffers[next].data(), static_cast<uint32_t>(frame.size()))) {
      state.SkipWithError("not decoded");
    }
    next = (next + 1) % frames.size();
  }
  decoder.endChannel();
}

void BM_CodecFrame704x480(benchmark::State& state) {
  decodeCodecFrames(state, 704, 480);
}
void BM_CodecFrame352x240(benchmark::State& state) {
  decodeCodecFrames(state, 352, 240);
}
BENCHMARK(BM_CodecFrame704x480)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CodecFrame352x240)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
