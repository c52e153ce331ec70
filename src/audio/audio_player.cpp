#include "audio/audio_player.h"

#include <algorithm>
#include <cstring>

#include "platform/messages.h"

namespace {
// 16-bit mono PCM at 8000 samples per second.
constexpr platform::WaveFormat kOutputFormat{1, 1, 8000, 2 * 8000, 2, 16};
}  // namespace

CAudioPlayer::CAudioPlayer(platform::IWaveOut* device)
    : waveOut_(device != nullptr ? *device : platform::waveOut()),
      blocks_(kBlockCount * kBlockCapacity, kFiller),
      scratch_(kBlockCapacity / sizeof(int16_t)) {}

CAudioPlayer::~CAudioPlayer() {
  // The device holds pointers to the headers and blocks: it must let go of them first.
  close();
}

void CAudioPlayer::reset(WindowId window) {
  std::lock_guard lock(mutex_);
  callbackWindow_ = window;
  std::fill(blocks_.begin(), blocks_.end(), kFiller);
  ring_ = 0;
}

void CAudioPlayer::fillBlocksLocked(uint32_t length) {
  for (int i = 0; i < kBlockCount; ++i)
    std::fill_n(blocks_.begin() + i * kBlockCapacity, length, kFiller);
}

int32_t CAudioPlayer::open(WindowId window) {
  std::lock_guard lock(mutex_);
  if (window != kNoWindow) callbackWindow_ = window;
  if (callbackWindow_ == kNoWindow) return 0;
  // Already playing: a second device would leave the first one's blocks behind.
  if (device_ != platform::kNoWaveOut) return 0;

  platform::WaveOutHandle handle = platform::kNoWaveOut;
  uint32_t result = waveOut_.open(&handle, platform::kWaveMapper, kOutputFormat, callbackWindow_);
  if (result != platform::kMmNoError) return static_cast<int32_t>(result);
  device_ = handle;

  const uint32_t length = blockLength(mode_.load());
  for (int i = 0; i < kBlockCount; ++i) {
    std::fill_n(blocks_.begin() + i * kBlockCapacity, length, kFiller);
    platform::WaveHeader& header = headers_[i];
    header.data = blocks_.data() + i * kBlockCapacity;
    header.bufferLength = length;
    header.bytesRecorded = 0;
    header.user = static_cast<uintptr_t>(i);
    header.flags = 0;
    header.loops = 0;
    result = waveOut_.prepareHeader(device_, &header);
    if (result != platform::kMmNoError) return static_cast<int32_t>(result);
  }
  waveOut_.write(device_, &headers_[0]);  // the open notification queues the rest
  return 0;
}

void CAudioPlayer::close() {
  mode_.store(AudioCodecMode::G726);
  std::lock_guard lock(mutex_);
  if (device_ != platform::kNoWaveOut && waveOut_.reset(device_) == platform::kMmNoError) {
    // Unprepared here, on the device that used them: the close notification comes late and
    // may find a new device using these headers.
    for (platform::WaveHeader& header : headers_) waveOut_.unprepareHeader(device_, &header);
    waveOut_.close(device_);
    device_ = platform::kNoWaveOut;
  }
  ring_ = 0;
}

void CAudioPlayer::onDeviceMessage(uint32_t msg, uintptr_t wParam) {
  if (msg == msg::kWaveOutOpen) onDeviceOpened(wParam);
  if (msg == msg::kWaveOutClose) onDeviceClosed(wParam);
}

void CAudioPlayer::onDeviceOpened(platform::WaveOutHandle handle) {
  std::lock_guard lock(mutex_);
  if (handle == platform::kNoWaveOut || handle != device_) return;
  for (platform::WaveHeader& header : headers_) waveOut_.write(device_, &header);
}

void CAudioPlayer::onDeviceClosed(platform::WaveOutHandle handle) {
  std::lock_guard lock(mutex_);
  // A device was opened since: its blocks are in use and stay as they are.
  if (handle == platform::kNoWaveOut || device_ != platform::kNoWaveOut) return;
  fillBlocksLocked(blockLength(mode_.load()));
}

void CAudioPlayer::queueNextLocked(const uint8_t* pcm, uint32_t bytes) {
  std::memcpy(blocks_.data() + ring_ * kBlockCapacity, pcm, std::min(bytes, kBlockCapacity));
  waveOut_.write(device_, &headers_[ring_]);  // refused while that block is still queued
  ring_ = ring_ == kBlockCount - 1 ? 0 : ring_ + 1;
}

int32_t CAudioPlayer::playG726(const uint8_t* payload, uint32_t length) {
  if (payload == nullptr) length = 0;
  std::lock_guard lock(mutex_);
  g726State_.pendingBits = 0;
  g726State_.pendingCount = 0;
  // The call decodes at most one block's worth (1024 bytes); the rest of a longer payload is
  // dropped rather than written past scratch and the block.
  const int32_t samples =
      length == 0 ? 0 : g726::decode(payload, scratch_.data(), length, g726State_);
  queueNextLocked(reinterpret_cast<const uint8_t*>(scratch_.data()),
                  static_cast<uint32_t>(samples) * 2);
  return 0;
}

int32_t CAudioPlayer::playAdpcm(const uint8_t* payload, uint32_t length) {
  if (payload == nullptr) length = 0;
  std::lock_guard lock(mutex_);
  // At most 768 bytes (2048 samples) fit scratch and a block; a longer payload is cut there.
  constexpr uint32_t kMaxBytes = kBlockCapacity / sizeof(int16_t) * 3 / 8;
  length = std::min(length, kMaxBytes);
  const int32_t samples =
      decoder_.decode(payload, length, scratch_.data(), static_cast<int64_t>(scratch_.size()));
  queueNextLocked(reinterpret_cast<const uint8_t*>(scratch_.data()),
                  static_cast<uint32_t>(std::max(samples, 0)) * 2);
  return 0;
}

platform::WaveOutHandle CAudioPlayer::device() const {
  std::lock_guard lock(mutex_);
  return device_;
}

int CAudioPlayer::ring() const {
  std::lock_guard lock(mutex_);
  return ring_;
}

std::vector<uint8_t> CAudioPlayer::blockBytes(int index) const {
  std::lock_guard lock(mutex_);
  if (index < 0 || index >= kBlockCount) return {};
  const auto begin = blocks_.begin() + index * kBlockCapacity;
  return std::vector<uint8_t>(begin, begin + kBlockCapacity);
}
