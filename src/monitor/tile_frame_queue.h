#pragma once
// The frames of one channel that wait for its decoder, with bounded memory whatever the input
// rate. A JPEG frame stands alone, so a newer frame replaces a waiting one. An MPEG-4 picture
// may be needed by the next one, so MPEG-4 frames wait in order (up to a few); when too many
// wait, those before the newest waiting key frame are dropped, or, without one, all of them and
// the channel waits for the next key frame, as it does when it starts. Not thread-safe: the pool
// guards it.
#include <chrono>
#include <cstdint>
#include <deque>
#include <vector>

#include "session/session_listener.h"

struct QueuedFrame {
  LiveCodec codec = LiveCodec::Jpeg;
  bool keyFrame = false;  // MPEG-4: the frame starts with an intra-coded picture
  uint64_t sequence = 0;
  std::chrono::steady_clock::time_point arrival;
  uint32_t length = 0;
  std::vector<uint8_t> bytes;  // length bytes, then kPadding zero bytes
};

class CTileFrameQueue {
 public:
  // Zero bytes after every frame: the decoders' read-ahead and alignment room.
  static constexpr uint32_t kPadding = 64;
  static constexpr size_t kMaxCodecFrames = 8;
  static constexpr size_t kMaxCodecBytes = size_t(4) << 20;

  // Queues a copy of the frame; returns how many frames (waiting ones, or this one) were
  // dropped unseen by it.
  uint64_t admit(const LiveFrame& frame);
  bool empty() const { return frames_.empty(); }
  size_t size() const { return frames_.size(); }
  // The oldest waiting frame; the queue must not be empty.
  QueuedFrame take();
  // A decoded frame's buffer, to copy a later frame into.
  void recycle(std::vector<uint8_t>&& buffer);
  // Drops every waiting frame (returns how many) and, with releaseMemory, the spare buffers too.
  // The next MPEG-4 frame must be a key frame again.
  size_t clear(bool releaseMemory);

 private:
  std::vector<uint8_t> buffer();
  bool full(uint32_t adding) const;
  size_t dropBeforeLastKeyFrame();

  std::deque<QueuedFrame> frames_;
  size_t bytes_ = 0;
  bool needKeyFrame_ = true;
  std::vector<std::vector<uint8_t>> spare_;
};
