#include "video/frame_renderer.h"

#include <cstring>
#include <memory>
#include <new>

#include "platform/display.h"
#include "video/jpeg_decoder.h"

CFrameRenderer::CFrameRenderer(Display& display) : display_(display) {}

CFrameRenderer::~CFrameRenderer() = default;

bool CFrameRenderer::bind(int channelIndex, const IDrawGates* gates) {
  if (gates == nullptr) return false;
  channelIndex_.store(channelIndex);
  gates_.store(gates);
  return true;
}

bool CFrameRenderer::reset() {
  fullScreen_.store(0);
  return true;
}

bool CFrameRenderer::mayDraw() const {
  const IDrawGates* gates = gates_.load();
  return gates != nullptr && gates->mayDraw();
}

bool CFrameRenderer::disconnectRequested() const {
  const IDrawGates* gates = gates_.load();
  return gates == nullptr || gates->disconnectRequested();
}

LayoutChoice CFrameRenderer::selectLayout(int width, int height) const {
  return selectFrameLayout(width, height, fullScreen_.load() != 0);
}

bool CFrameRenderer::blitPicture(const BgrPicture& picture, uint16_t* displayMemory, int x, int y,
                                 int layout) const {
  return blitFrameLayout(picture, displayMemory, x, y, layout);
}

bool CFrameRenderer::drawJpegFrame(uint8_t* frame, uint32_t length) {
  if (!mayDraw()) return true;  // consumed without drawing
  if (frame == nullptr || length <= kFrameHeaderSize) return false;
  uint8_t* jpeg = frame + kFrameHeaderSize;
  const uint32_t jpegLength = length - kFrameHeaderSize;
  if (std::memchr(jpeg, 0x01, jpegLength) == nullptr) return false;

  uint16_t* memory = display_.GXBeginDraw();
  if (memory == nullptr) return true;
  if (disconnectRequested()) {
    display_.GXEndDraw();
    return true;
  }
  bool drawn = false;
  {
    // One decoder per frame, gone before the display is released.
    std::unique_ptr<CJpegDecoder> decoder(new (std::nothrow) CJpegDecoder);
    if (decoder) {
      decoder->setData(jpeg);
      decoder->decode(jpegLength);
      const LayoutChoice choice = selectLayout(decoder->width(), decoder->height());
      const BgrPicture picture{decoder->picture(), decoder->width(), decoder->height()};
      if (choice.layout != layout::kNone && picture.pixels != nullptr) {
        drawn = blitPicture(picture, memory, choice.x, choice.y, choice.layout);
      }
    }
  }
  display_.GXEndDraw();
  return drawn;
}
