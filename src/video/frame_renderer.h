#pragma once
// The JPEG path: decodes each JPEG frame with a fresh CJpegDecoder and writes the picture into
// the display memory as RGB565 in one of twelve fixed layouts, in the window's picture area or
// turned over the whole display.
//
// drawJpegFrame runs on the live-stream thread; bind, setFullScreen and reset on the UI thread.
// A view switch during a frame affects the next frame.
#include <atomic>
#include <cstdint>

#include "protocol/frame_sinks.h"
#include "video/draw_gates.h"
#include "video/frame_layouts.h"

class Display;

class CFrameRenderer : public IJpegFrameSink {
 public:
  static constexpr uint32_t kFrameHeaderSize = 16;

  explicit CFrameRenderer(Display& display);
  ~CFrameRenderer() override;
  CFrameRenderer(const CFrameRenderer&) = delete;
  CFrameRenderer& operator=(const CFrameRenderer&) = delete;

  // Stores both; false (nothing stored) without gates.
  bool bind(int channelIndex, const IDrawGates* gates);
  // Non-zero: full-screen layouts; zero: window layouts.
  void setFullScreen(int flag) { fullScreen_.store(flag != 0 ? 1 : 0); }
  // Back to the window layouts. Always true.
  bool reset();
  bool drawJpegFrame(uint8_t* frame, uint32_t length) override;

  // The layout for a picture size in the current view.
  LayoutChoice selectLayout(int width, int height) const;
  // Draws a decoded picture in a layout (see blitFrameLayout).
  bool blitPicture(const BgrPicture& picture, uint16_t* displayMemory, int x, int y,
                   int layout) const;

  int channelIndex() const { return channelIndex_.load(); }
  int fullScreen() const { return fullScreen_.load(); }

 private:
  bool mayDraw() const;
  bool disconnectRequested() const;

  Display& display_;
  std::atomic<int> channelIndex_{0};
  std::atomic<const IDrawGates*> gates_{nullptr};
  std::atomic<int> fullScreen_{0};  // written by the UI thread, read per frame
};
