#include "video/video_decoder.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>

#include "platform/display.h"
#include "video/codec/codec_frame.h"

CVideoDecoder::CVideoDecoder(Display& display, IVideoCodecLibrary& library)
    : display_(display), library_(library) {}

// The library's channel is ended by endChannel, which the window calls on every disconnect.
CVideoDecoder::~CVideoDecoder() = default;

bool CVideoDecoder::bind(int channelIndex, const IDrawGates* gates) {
  if (gates == nullptr) return false;
  channelIndex_.store(channelIndex);
  gates_.store(gates);
  return true;
}

bool CVideoDecoder::createChannel(const uint8_t* sequenceHeader, uint32_t length) {
  std::lock_guard lock(mutex_);
  return createChannelLocked(sequenceHeader, length);
}

bool CVideoDecoder::createChannelLocked(const uint8_t* sequenceHeader, uint32_t length) {
  if (open_) {
    open_ = false;
    workingBuffer_.reset();
  }
  if (sequenceHeader == nullptr || length == 0) {
    endChannelLocked();
    return false;
  }
  workingBuffer_.reset(new (std::nothrow) uint8_t[kWorkingBufferSize]);
  if (!workingBuffer_) {
    endChannelLocked();
    return false;
  }
  // A channel that opens in full screen (a switch to a codec channel there) starts full screen.
  const DecChannelPlacement& view = fullScreen_ ? kDecFullScreenView : kDecWindowView;
  if (library_.channelCreation(kDecViewerChannel, view.width, view.left, view.top, view.modeFlags,
                               view.last) > 0) {
    endChannelLocked();
    return false;
  }
  firstFrame_ = true;
  open_ = true;
  return true;
}

bool CVideoDecoder::endChannel() {
  std::lock_guard lock(mutex_);
  endChannelLocked();
  return true;
}

void CVideoDecoder::setFullScreen(bool on) {
  std::lock_guard lock(mutex_);
  fullScreen_ = on;
  if (!workingBuffer_) return;  // the next channel opens in this view
  const DecChannelPlacement& view = on ? kDecFullScreenView : kDecWindowView;
  library_.channelCreation(kDecViewerChannel, view.width, view.left, view.top, view.modeFlags,
                           view.last);
}

bool CVideoDecoder::fullScreen() const {
  std::lock_guard lock(mutex_);
  return fullScreen_;
}

void CVideoDecoder::endChannelLocked() {
  open_ = false;
  firstFrame_ = true;
  library_.channelEnd(kDecViewerChannel);
  workingBuffer_.reset();
  sequenceHeader_.fill(0);
}

bool CVideoDecoder::mayDraw() const {
  const IDrawGates* gates = gates_.load();
  return gates != nullptr && gates->mayDraw();
}

bool CVideoDecoder::disconnectRequested() const {
  const IDrawGates* gates = gates_.load();
  return gates == nullptr || gates->disconnectRequested();
}

bool CVideoDecoder::decodeFrame(const uint8_t* frame, uint32_t length) {
  if (!mayDraw()) return true;  // consumed without drawing
  std::lock_guard lock(mutex_);

  // A frame that carries the stream's configuration starts it at offset 16 (or just after).
  bool changed = false;
  if (codec_frame::carriesSequenceHeader(frame, length) &&
      std::memcmp(frame + kFrameHeaderSize, sequenceHeader_.data(), kSequenceHeaderSize) != 0) {
    std::memcpy(sequenceHeader_.data(), frame + kFrameHeaderSize, kSequenceHeaderSize);
    changed = true;
  }
  if (changed || !workingBuffer_) createChannelLocked(sequenceHeader_.data(), kSequenceHeaderSize);
  if (!open_ || frame == nullptr || length == 0) return false;

  // The first frame after opening is decoded from its last video object start (the configuration
  // the decoder needs), later ones from their first picture.
  const std::optional<uint32_t> input = codec_frame::decoderInputStart(frame, length, firstFrame_);
  firstFrame_ = false;
  if (!input) return false;  // no picture in this frame
  const uint32_t start = *input;
  if (!workingBuffer_) return false;

  uint16_t* memory = display_.GXBeginDraw();
  if (memory == nullptr) return false;
  if (disconnectRequested()) {
    display_.GXEndDraw();
    return true;
  }
  if (library_.decode(kDecViewerChannel, frame + start, length - start, memory) < 0) {
    // The channel stays marked open: it is re-created when the sequence header changes or the
    // window ends it.
    library_.channelEnd(kDecViewerChannel);
    display_.GXEndDraw();
    return false;
  }
  display_.GXEndDraw();
  return true;
}

bool CVideoDecoder::isOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}

bool CVideoDecoder::isCreated() const {
  std::lock_guard lock(mutex_);
  return workingBuffer_ != nullptr;
}

bool CVideoDecoder::firstFrame() const {
  std::lock_guard lock(mutex_);
  return firstFrame_;
}

std::array<uint8_t, CVideoDecoder::kSequenceHeaderSize> CVideoDecoder::sequenceHeader() const {
  std::lock_guard lock(mutex_);
  return sequenceHeader_;
}
