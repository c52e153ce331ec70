#pragma once
// Keeps what it takes to show the newest live picture again: the newest JPEG image, or the
// MPEG-4 frames since the newest key frame (bounded). Decoding waits until a snapshot is asked for.
//
// keep* run on the live-stream thread, snapshot and clear on any thread; mutex_ guards all state.
#include <QImage>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "recording/frame_inspect.h"

namespace recording {

class CSnapshotStore {
 public:
  // Frames of one key-frame group kept at most; beyond it the group is dropped and the store
  // waits for the next key frame.
  static constexpr size_t kMaxGroupBytes = size_t{8} << 20;

  // A JPEG image from its FF D8 on.
  void keepJpeg(const uint8_t* jpeg, size_t length);
  // MPEG-4 coded data (without FrameHeader) and what inspectMpeg4 found in it.
  void keepMpeg4(const uint8_t* coded, size_t length, const Mpeg4FrameInfo& info);
  // Forgets the picture (e.g. when the stream ends).
  void clear();

  // The newest picture, decoded now; null when there is none to decode.
  QImage snapshot() const;

 private:
  enum class Kind { None, Jpeg, Mpeg4 };

  mutable std::mutex mutex_;
  Kind kind_ = Kind::None;
  std::vector<uint8_t> jpeg_;  // reused from frame to frame
  std::vector<uint8_t> group_;
  std::vector<uint32_t> groupLengths_;
  bool groupOpen_ = false;       // group_ starts at a key frame and is being extended
  std::vector<uint8_t> config_;  // newest VOL header seen
};

}  // namespace recording
