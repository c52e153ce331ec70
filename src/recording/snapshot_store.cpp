#include "recording/snapshot_store.h"

#include "recording/still_decoders.h"

namespace recording {
namespace {
// Room after a JPEG copy that the decoder may write into while aligning the end marker.
constexpr size_t kJpegSlack = 16;
}  // namespace

void CSnapshotStore::keepJpeg(const uint8_t* jpeg, size_t length) {
  std::lock_guard lock(mutex_);
  kind_ = Kind::Jpeg;
  jpeg_.assign(jpeg, jpeg + length);
  group_.clear();
  groupLengths_.clear();
  groupOpen_ = false;
}

void CSnapshotStore::keepMpeg4(const uint8_t* coded, size_t length, const Mpeg4FrameInfo& info) {
  std::lock_guard lock(mutex_);
  if (kind_ != Kind::Mpeg4) {
    kind_ = Kind::Mpeg4;
    jpeg_.clear();
    groupOpen_ = false;
  }
  if (info.volLength > 0)
    config_.assign(coded + info.volOffset, coded + info.volOffset + info.volLength);
  if (info.keyFrame) {
    group_.clear();
    groupLengths_.clear();
    groupOpen_ = true;
  }
  if (!groupOpen_) return;
  if (group_.size() + length > kMaxGroupBytes) {
    group_.clear();
    groupLengths_.clear();
    groupOpen_ = false;
    return;
  }
  group_.insert(group_.end(), coded, coded + length);
  groupLengths_.push_back(static_cast<uint32_t>(length));
}

void CSnapshotStore::clear() {
  std::lock_guard lock(mutex_);
  kind_ = Kind::None;
  jpeg_.clear();
  group_.clear();
  groupLengths_.clear();
  groupOpen_ = false;
  config_.clear();
}

QImage CSnapshotStore::snapshot() const {
  // Copy under the lock, decode outside it: the stream thread waits only for the copy.
  std::unique_lock lock(mutex_);
  if (kind_ == Kind::Jpeg && !jpeg_.empty()) {
    std::vector<uint8_t> jpeg(jpeg_.size() + kJpegSlack, 0);
    std::copy(jpeg_.begin(), jpeg_.end(), jpeg.begin());
    lock.unlock();
    return decodeJpegStill(jpeg.data(), static_cast<uint32_t>(jpeg.size() - kJpegSlack));
  }
  if (kind_ == Kind::Mpeg4 && !groupLengths_.empty()) {
    const std::vector<uint8_t> group = group_;
    const std::vector<uint32_t> lengths = groupLengths_;
    const std::vector<uint8_t> config = config_;
    lock.unlock();
    return decodeMpeg4Still(group, lengths, config);
  }
  return {};
}

}  // namespace recording
