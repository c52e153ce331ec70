#include "monitor/tile_frame_queue.h"

#include <cstring>
#include <utility>

#include "recording/frame_inspect.h"

namespace {

constexpr size_t kMaxSpareBuffers = 2;

bool startsWithKeyFrame(const LiveFrame& frame) {
  if (frame.length <= recording::kFrameHeaderSize) return false;
  return recording::inspectMpeg4(frame.data + recording::kFrameHeaderSize,
                                 frame.length - recording::kFrameHeaderSize)
      .keyFrame;
}

}  // namespace

uint64_t CTileFrameQueue::admit(const LiveFrame& frame) {
  uint64_t dropped = 0;
  const bool key = frame.codec == LiveCodec::Mpeg4 && startsWithKeyFrame(frame);
  if (frame.codec == LiveCodec::Jpeg) {
    // Whatever waits is older than this picture. An MPEG-4 stream that resumes after JPEG
    // frames starts again at a key frame.
    dropped += clear(false);
  } else {
    // A JPEG frame waiting before an MPEG-4 one would be replaced by its picture anyway.
    while (!frames_.empty() && frames_.back().codec == LiveCodec::Jpeg) {
      recycle(std::move(frames_.back().bytes));
      bytes_ -= frames_.back().length;
      frames_.pop_back();
      ++dropped;
    }
    if (key) {
      needKeyFrame_ = false;
    } else if (needKeyFrame_) {
      return dropped + 1;  // it would be decoded against a picture the decoder never saw
    }
    if (full(frame.length)) {
      // A key frame replaces all that waits; otherwise the newest waiting key frame and what
      // follows it are kept if they leave room.
      if (!key) dropped += dropBeforeLastKeyFrame();
      if (key || full(frame.length)) {
        dropped += clear(false);
        if (!key) return dropped + 1;
        needKeyFrame_ = false;
      }
    }
  }

  QueuedFrame queued;
  queued.codec = frame.codec;
  queued.keyFrame = key;
  queued.sequence = frame.sequence;
  queued.arrival = frame.arrival;
  queued.length = frame.length;
  queued.bytes = buffer();
  queued.bytes.resize(size_t(frame.length) + kPadding);
  std::memcpy(queued.bytes.data(), frame.data, frame.length);
  std::memset(queued.bytes.data() + frame.length, 0, kPadding);
  bytes_ += frame.length;
  frames_.push_back(std::move(queued));
  return dropped;
}

bool CTileFrameQueue::full(uint32_t adding) const {
  return frames_.size() >= kMaxCodecFrames || bytes_ + adding > kMaxCodecBytes;
}

size_t CTileFrameQueue::dropBeforeLastKeyFrame() {
  size_t key = frames_.size();
  while (key > 0 && !frames_[key - 1].keyFrame) --key;
  if (key <= 1) return 0;  // none, or already the first
  --key;
  for (size_t i = 0; i < key; ++i) {
    bytes_ -= frames_.front().length;
    recycle(std::move(frames_.front().bytes));
    frames_.pop_front();
  }
  return key;
}

QueuedFrame CTileFrameQueue::take() {
  QueuedFrame frame = std::move(frames_.front());
  frames_.pop_front();
  bytes_ -= frame.length;
  return frame;
}

void CTileFrameQueue::recycle(std::vector<uint8_t>&& buffer) {
  if (spare_.size() < kMaxSpareBuffers && buffer.capacity() > 0)
    spare_.push_back(std::move(buffer));
}

size_t CTileFrameQueue::clear(bool releaseMemory) {
  const size_t dropped = frames_.size();
  for (QueuedFrame& frame : frames_) recycle(std::move(frame.bytes));
  frames_.clear();
  bytes_ = 0;
  needKeyFrame_ = true;
  if (releaseMemory) spare_.clear();
  return dropped;
}

std::vector<uint8_t> CTileFrameQueue::buffer() {
  if (spare_.empty()) return {};
  std::vector<uint8_t> buffer = std::move(spare_.back());
  spare_.pop_back();
  return buffer;
}
