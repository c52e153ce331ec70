#include "audio/audio_player.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/messages.h"

namespace {

// 16-bit mono PCM at 8000 samples per second.
constexpr platform::WaveFormat kOutputFormat{1, 1, 8000, 2 * 8000, 2, 16};
constexpr int64_t kBlockUs = int64_t(CAudioPlayer::kBlockSamples) * 1'000'000 / 8000;

int64_t steadyMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

JitterBufferConfig CAudioPlayer::jitterConfig() {
  JitterBufferConfig config;
  config.outputLeadMs = kLeadBlocks * static_cast<int>(kBlockUs / 1000);
  return config;
}

CAudioPlayer::CAudioPlayer(platform::IWaveOut* device) : CAudioPlayer(device, nullptr) {}

CAudioPlayer::CAudioPlayer(platform::IWaveOut* device, Clock clock)
    : waveOut_(device != nullptr ? *device : platform::waveOut()),
      ownThread_(!clock),
      clock_(clock ? std::move(clock) : Clock(steadyMicros)),
      blocks_(kBlockCount * kBlockBytes, kFiller),
      scratch_(kScratchBytes / sizeof(int16_t)),
      jitter_(jitterConfig()) {}

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

int32_t CAudioPlayer::open(WindowId window) {
  std::lock_guard lifecycle(lifecycleMutex_);
  {
    std::lock_guard lock(mutex_);
    if (window != kNoWindow) callbackWindow_ = window;
    if (callbackWindow_ == kNoWindow) return 0;
    // Already playing: a second device would leave the first one's blocks behind.
    if (device_ != platform::kNoWaveOut) return 0;

    platform::WaveOutHandle handle = platform::kNoWaveOut;
    uint32_t result = waveOut_.open(&handle, platform::kWaveMapper, kOutputFormat, callbackWindow_);
    if (result != platform::kMmNoError) return static_cast<int32_t>(result);
    device_ = handle;
    std::fill(blocks_.begin(), blocks_.end(), kFiller);
    for (int i = 0; i < kBlockCount; ++i) {
      platform::WaveHeader& header = headers_[i];
      header.data = blocks_.data() + i * kBlockBytes;
      header.bufferLength = kBlockBytes;
      header.bytesRecorded = 0;
      header.user = static_cast<uintptr_t>(i);
      header.flags = 0;
      header.loops = 0;
      result = waveOut_.prepareHeader(device_, &header);
      if (result != platform::kMmNoError) return static_cast<int32_t>(result);
    }
    ring_ = 0;
    written_ = 0;
    instantDevice_ = false;
    jitter_.clear();
    stopPlayout_ = false;
  }
  if (ownThread_) playoutThread_ = std::thread([this] { runPlayout(); });
  return 0;
}

void CAudioPlayer::stopPlayoutThread() {
  if (!playoutThread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopPlayout_ = true;
  }
  wake_.notify_all();
  playoutThread_.join();
}

void CAudioPlayer::close() {
  mode_.store(AudioCodecMode::G726);
  std::lock_guard lifecycle(lifecycleMutex_);
  stopPlayoutThread();
  std::lock_guard lock(mutex_);
  if (device_ != platform::kNoWaveOut && waveOut_.reset(device_) == platform::kMmNoError) {
    // Unprepared here, on the device that used them: the close notification comes late and
    // may find a new device using these headers.
    for (platform::WaveHeader& header : headers_) waveOut_.unprepareHeader(device_, &header);
    waveOut_.close(device_);
    device_ = platform::kNoWaveOut;
  }
  // Sound held for a stream that was switched off is stale by the time audio comes back.
  jitter_.clear();
  ring_ = 0;
}

void CAudioPlayer::onDeviceMessage(uint32_t msg, uintptr_t wParam) {
  if (msg == msg::kWaveOutClose) onDeviceClosed(wParam);
}

void CAudioPlayer::runPlayout() {
  std::unique_lock lock(mutex_);
  while (!stopPlayout_) {
    lock.unlock();
    servicePlayout();
    lock.lock();
    wake_.wait_for(lock, std::chrono::milliseconds(kServiceMs), [this] { return stopPlayout_; });
  }
}

void CAudioPlayer::servicePlayout() {
  std::lock_guard lock(mutex_);
  if (device_ == platform::kNoWaveOut) return;
  const int64_t now = clock_();
  for (int guard = 0; guard < 1000; ++guard) {
    platform::WaveHeader& header = headers_[ring_];
    // Blocks finish in the order they were queued: the next one in the ring is the oldest.
    if (header.flags & platform::kWaveHeaderInQueue) break;
    if (instantDevice_) {
      const int64_t due = (now - pacingStartUs_) / kBlockUs + kLeadBlocks;
      if (written_ >= static_cast<uint64_t>(due)) break;
    } else {
      const auto queued = std::count_if(headers_.begin(), headers_.end(), [](const auto& h) {
        return (h.flags & platform::kWaveHeaderInQueue) != 0;
      });
      if (queued >= kLeadBlocks) break;
    }
    auto* samples = reinterpret_cast<int16_t*>(header.data);
    jitter_.pull(samples, kBlockSamples, now);
    if (waveOut_.write(device_, &header) != platform::kMmNoError) break;
    if (written_++ == 0) {
      pacingStartUs_ = now;
      instantDevice_ = (header.flags & platform::kWaveHeaderInQueue) == 0;
    }
    ring_ = ring_ == kBlockCount - 1 ? 0 : ring_ + 1;
  }
}

void CAudioPlayer::onDeviceClosed(platform::WaveOutHandle handle) {
  std::lock_guard lock(mutex_);
  if (handle == platform::kNoWaveOut || device_ != platform::kNoWaveOut) return;
  std::fill(blocks_.begin(), blocks_.end(), kFiller);
}

void CAudioPlayer::play(const int16_t* samples, int32_t count) {
  // Without a device nothing would ever take the sound out again.
  if (device_ == platform::kNoWaveOut || count <= 0) return;
  jitter_.push(samples, static_cast<size_t>(count), clock_());
}

int32_t CAudioPlayer::playG726(const uint8_t* payload, uint32_t length) {
  if (payload == nullptr) length = 0;
  std::lock_guard lock(mutex_);
  g726State_.pendingBits = 0;
  g726State_.pendingCount = 0;
  // The call decodes at most 1024 bytes; the rest of a longer payload is dropped rather than
  // written past scratch.
  const int32_t samples =
      length == 0 ? 0 : g726::decode(payload, scratch_.data(), length, g726State_);
  play(scratch_.data(), samples);
  return 0;
}

int32_t CAudioPlayer::playAdpcm(const uint8_t* payload, uint32_t length) {
  if (payload == nullptr) length = 0;
  std::lock_guard lock(mutex_);
  // At most 768 bytes (2048 samples) fit scratch; a longer payload is cut there.
  constexpr uint32_t kMaxBytes = kScratchBytes / sizeof(int16_t) * 3 / 8;
  length = std::min(length, kMaxBytes);
  const int32_t samples =
      decoder_.decode(payload, length, scratch_.data(), static_cast<int64_t>(scratch_.size()));
  play(scratch_.data(), samples);
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
  const auto begin = blocks_.begin() + index * kBlockBytes;
  return std::vector<uint8_t>(begin, begin + kBlockBytes);
}

JitterBufferStats CAudioPlayer::playoutStats() const {
  std::lock_guard lock(mutex_);
  return jitter_.stats();
}

void CAudioPlayer::clearPlayoutCounters() {
  std::lock_guard lock(mutex_);
  jitter_.clearCounters();
}
