#pragma once
// The session's audio for RTSP: the DVR's blocks (G.726 at 32 kbit/s, or the 3-bit ADPCM)
// decoded to 8 kHz samples with the project's own decoders and handed to the RTSP streams of the
// channel the audio was asked for. No sound device.
//
// Threads: the blocks come on the session's audio thread; setChannel() on the owner's thread.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "audio/adpcm_decoder.h"
#include "audio/g726_library.h"
#include "protocol/audio_sink.h"

class CRtspAudioSink final : public IAudioSink {
 public:
  using Deliver = std::function<void(uint8_t channel, const int16_t* samples, size_t count,
                                     std::chrono::steady_clock::time_point arrival)>;
  // At most this many samples come out of one block (a 5,120-byte G.726 block).
  static constexpr size_t kMaxSamples = 10240;

  explicit CRtspAudioSink(Deliver deliver) : deliver_(std::move(deliver)) {}

  // The channel the session's audio belongs to now; -1 for none (blocks are then dropped).
  void setChannel(int channel) { channel_.store(channel); }

  // IAudioSink
  int32_t open(WindowId window) override;
  void close() override {}
  int32_t playG726(const uint8_t* payload, uint32_t length) override;
  int32_t playAdpcm(const uint8_t* payload, uint32_t length) override;
  AudioCodecMode mode() const override { return mode_.load(); }
  void setMode(AudioCodecMode mode) override { mode_.store(mode); }

 private:
  void deliver(size_t count);

  const Deliver deliver_;
  std::atomic<int> channel_{-1};
  std::atomic<AudioCodecMode> mode_{AudioCodecMode::G726};
  std::mutex mutex_;  // the decoders and the scratch buffer (open() may come on another thread)
  std::unique_ptr<G726LibraryState> g726_ = std::make_unique<G726LibraryState>();
  CAdpcmDecoder adpcm_;
  std::array<int16_t, kMaxSamples> samples_{};
};
