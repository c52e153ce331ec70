#include "bridge/rtsp_audio_sink.h"

#include <algorithm>

int32_t CRtspAudioSink::open(WindowId) {
  // A new audio stream (another channel, or after a reconnect) starts from a fresh decoder.
  std::lock_guard lock(mutex_);
  g726_ = std::make_unique<G726LibraryState>();
  adpcm_ = CAdpcmDecoder();
  return 0;
}

int32_t CRtspAudioSink::playG726(const uint8_t* payload, uint32_t length) {
  if (payload == nullptr || length == 0) return 0;
  std::lock_guard lock(mutex_);
  size_t count = 0;
  // One call decodes at most kMaxInputBytes; a longer block is decoded in parts, as far as it
  // fits the scratch buffer.
  for (uint32_t done = 0; done < length;) {
    const uint32_t part = std::min(length - done, g726::kMaxInputBytes);
    if (count + 2 * part > samples_.size()) break;
    g726_->pendingBits = 0;
    g726_->pendingCount = 0;
    const int32_t got = g726::decode(payload + done, samples_.data() + count, part, *g726_);
    if (got <= 0) break;
    count += static_cast<size_t>(got);
    done += part;
  }
  deliver(count);
  return 0;
}

int32_t CRtspAudioSink::playAdpcm(const uint8_t* payload, uint32_t length) {
  if (payload == nullptr || length == 0) return 0;
  std::lock_guard lock(mutex_);
  // Cut where the samples would overflow the scratch buffer (three bytes hold eight codes).
  const uint32_t fits = static_cast<uint32_t>(samples_.size() / 8 * 3);
  const int32_t got = adpcm_.decode(payload, std::min(length, fits), samples_.data(),
                                    static_cast<int64_t>(samples_.size()));
  deliver(got > 0 ? static_cast<size_t>(got) : 0);
  return 0;
}

void CRtspAudioSink::deliver(size_t count) {
  const int channel = channel_.load();
  if (count == 0 || channel < 0 || !deliver_) return;
  deliver_(static_cast<uint8_t>(channel), samples_.data(), count, std::chrono::steady_clock::now());
}
