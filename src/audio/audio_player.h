#pragma once
// Plays decoded DVR audio through the wave-out device: 16-bit mono PCM at 8000 Hz. Decoded
// blocks go into a jitter buffer as they arrive; a playout thread feeds the device from it in
// short blocks at the device's own pace, keeping a few of them queued, so a block that arrives
// late or in a burst never leaves the device without sound.
//
// Pacing: a device that plays in real time reports a block done when it has taken it, and the
// playout keeps kLeadBlocks queued. A device that takes each block at once (the WAV file) is
// fed by the clock instead, as fast as a real one would play.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/adpcm_decoder.h"
#include "audio/g726_library.h"
#include "audio/jitter_buffer.h"
#include "platform/wave_out.h"
#include "protocol/audio_sink.h"

class CAudioPlayer final : public IAudioSink {
 public:
  static constexpr int kBlockCount = 5;
  static constexpr uint32_t kBlockSamples = 160;  // 20 ms per device block
  static constexpr uint32_t kBlockBytes = kBlockSamples * 2;
  static constexpr int kLeadBlocks = 4;  // queued on the device ahead of what is heard
  static constexpr int kServiceMs = 5;   // how often the playout thread tops the device up
  // Decoder output per received block: 2048 samples (a 1024-byte G.726 or 768-byte 3-bit block).
  static constexpr uint32_t kScratchBytes = 4096;
  // Silence: a 16-bit zero sample, so switching audio on or changing the codec never clicks.
  static constexpr uint8_t kFiller = 0x00;

  // Microseconds of a monotonic clock.
  using Clock = std::function<int64_t()>;

  // device: the wave-out device to play on; null takes the process's (platform::waveOut()).
  explicit CAudioPlayer(platform::IWaveOut* device = nullptr);
  // With a clock of its own the player starts no playout thread: its owner calls
  // servicePlayout (tests, with a simulated clock).
  CAudioPlayer(platform::IWaveOut* device, Clock clock);
  ~CAudioPlayer() override;
  CAudioPlayer(const CAudioPlayer&) = delete;
  CAudioPlayer& operator=(const CAudioPlayer&) = delete;

  // Sets the window that gets the device's notifications, fills every block and rewinds the ring.
  void reset(WindowId window);

  // IAudioSink. open returns 0 on success (and when there is no callback window), else the
  // device's error. A codec switch only changes the mode: the buffered sound and its delay stay.
  int32_t open(WindowId window) override;
  void close() override;
  int32_t playG726(const uint8_t* payload, uint32_t length) override;
  int32_t playAdpcm(const uint8_t* payload, uint32_t length) override;
  AudioCodecMode mode() const override { return mode_.load(); }
  void setMode(AudioCodecMode mode) override { mode_.store(mode); }
  // Routes the device's close notification to onDeviceClosed (opening needs nothing).
  void onDeviceMessage(uint32_t msg, uintptr_t wParam) override;

  // Queues as many blocks from the jitter buffer as the device's pace allows.
  void servicePlayout();

  // The device's close notification (UI thread). It carries the handle of the device that sent
  // it; once a device was opened since, the blocks are in use and stay as they are.
  void onDeviceClosed(platform::WaveOutHandle handle);

  // Inspection (tests, diagnostics, benchmarks).
  platform::WaveOutHandle device() const;
  int ring() const;
  std::vector<uint8_t> blockBytes(int index) const;
  JitterBufferStats playoutStats() const;
  void clearPlayoutCounters();

  static JitterBufferConfig jitterConfig();

 private:
  void play(const int16_t* samples, int32_t count);
  void stopPlayoutThread();
  void runPlayout();

  platform::IWaveOut& waveOut_;
  const bool ownThread_;  // before clock_: both are made from the same argument
  const Clock clock_;
  std::atomic<AudioCodecMode> mode_{AudioCodecMode::G726};

  // Serialises open and close (UI thread, and the destructor) around the playout thread's start
  // and join; taken before mutex_, never by the playout thread.
  std::mutex lifecycleMutex_;
  std::thread playoutThread_;
  std::condition_variable wake_;
  bool stopPlayout_ = false;  // guarded by mutex_

  // The UI thread (reset, the user's open and close, the notifications), the audio receive
  // thread (playing) and the playout thread all use the fields below; mutex_ guards them all.
  mutable std::mutex mutex_;
  platform::WaveOutHandle device_ = platform::kNoWaveOut;
  std::array<platform::WaveHeader, kBlockCount> headers_;
  std::vector<uint8_t> blocks_;  // kBlockCount * kBlockBytes, contiguous
  int ring_ = 0;                 // block the playout fills next, 0..4
  WindowId callbackWindow_ = kNoWindow;
  std::vector<int16_t> scratch_;  // decoder output, kScratchBytes
  CAdpcmDecoder decoder_;
  G726LibraryState g726State_;
  CJitterBuffer jitter_;
  // Pacing of the device opened last: blocks written, when the first went out, and whether the
  // device takes blocks at once (then the clock paces).
  uint64_t written_ = 0;
  int64_t pacingStartUs_ = 0;
  bool instantDevice_ = false;
};
