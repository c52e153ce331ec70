#pragma once
// The codec path: keeps one decoder channel of the video decoder library open for the live
// stream, re-opens it when the stream's sequence header changes, finds where the decoder's input
// starts in each frame, and lets the library draw into the display memory.
//
// decodeFrame runs on the live-stream thread; bind, createChannel and endChannel on the UI thread.
// One mutex guards the channel state and is held for a whole frame, so endChannel never ends the
// library's channel under a decode (it waits for the frame to finish).
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "protocol/frame_sinks.h"
#include "video/codec/video_codec_library.h"
#include "video/draw_gates.h"

class Display;

class CVideoDecoder : public ICodecFrameSink {
 public:
  // Reserved while the channel is open; its presence marks the channel as created.
  static constexpr uint32_t kWorkingBufferSize = 352 * 240 * 2;
  // Bytes from offset 16 of a frame that carry the stream's configuration.
  static constexpr uint32_t kSequenceHeaderSize = 19;
  static constexpr uint32_t kFrameHeaderSize = 16;

  explicit CVideoDecoder(Display& display, IVideoCodecLibrary& library = videoCodecLibrary());
  ~CVideoDecoder() override;
  CVideoDecoder(const CVideoDecoder&) = delete;
  CVideoDecoder& operator=(const CVideoDecoder&) = delete;

  // Stores both; false (nothing stored) without gates.
  bool bind(int channelIndex, const IDrawGates* gates);
  // Opens the decoder channel in the window view. False when the header is missing or empty, or
  // the channel can't be opened (it is then ended).
  bool createChannel(const uint8_t* sequenceHeader, uint32_t length);
  // Closes the decoder channel and forgets the sequence header. Always true.
  bool endChannel();
  // The view every channel is placed in, from now on: the window's picture area, or the whole
  // display turned (full screen). An open channel is re-placed and keeps its decoder state.
  void setFullScreen(bool on);
  bool fullScreen() const;
  // Decodes one codec frame (FrameHeader first) into the display memory.
  bool decodeFrame(const uint8_t* frame, uint32_t length) override;

  // Read access (any thread).
  int channelIndex() const { return channelIndex_.load(); }
  bool isOpen() const;
  bool isCreated() const;
  bool firstFrame() const;
  std::array<uint8_t, kSequenceHeaderSize> sequenceHeader() const;

 private:
  bool createChannelLocked(const uint8_t* sequenceHeader, uint32_t length);
  void endChannelLocked();
  bool mayDraw() const;
  bool disconnectRequested() const;

  Display& display_;
  IVideoCodecLibrary& library_;
  std::atomic<int> channelIndex_{0};
  std::atomic<const IDrawGates*> gates_{nullptr};

  mutable std::mutex mutex_;  // guards the fields below
  bool open_ = false;
  bool firstFrame_ = false;
  bool fullScreen_ = false;
  std::unique_ptr<uint8_t[]> workingBuffer_;
  std::array<uint8_t, kSequenceHeaderSize> sequenceHeader_{};
};
