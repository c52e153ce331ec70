#pragma once
// Plays decoded DVR audio through the wave-out device: 16-bit mono PCM at 8000 Hz through a ring
// of five blocks, prepared once per opening of the device and then refilled and queued one per
// received audio block. Nothing waits for a block to finish: a block still queued is overwritten
// and its queue call refused, a finished one is queued again.
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "audio/adpcm_decoder.h"
#include "audio/g726_library.h"
#include "platform/wave_out.h"
#include "protocol/audio_sink.h"

class CAudioPlayer final : public IAudioSink {
 public:
  static constexpr int kBlockCount = 5;
  static constexpr uint32_t kBlockCapacity = 4096;     // bytes per block
  static constexpr uint32_t kG726BlockLength = 3200;   // 200 ms
  static constexpr uint32_t kAdpcmBlockLength = 4096;  // 2048 samples, 256 ms
  // Silence: a 16-bit zero sample, so switching audio on or changing the codec never clicks.
  static constexpr uint8_t kFiller = 0x00;

  // device: the wave-out device to play on; null takes the process's (platform::waveOut()).
  explicit CAudioPlayer(platform::IWaveOut* device = nullptr);
  ~CAudioPlayer() override;
  CAudioPlayer(const CAudioPlayer&) = delete;
  CAudioPlayer& operator=(const CAudioPlayer&) = delete;

  // Sets the window that gets the device's notifications, fills every block and rewinds the ring.
  void reset(WindowId window);

  // IAudioSink. open returns 0 on success (and when there is no callback window), else the
  // device's error.
  int32_t open(WindowId window) override;
  void close() override;
  int32_t playG726(const uint8_t* payload, uint32_t length) override;
  int32_t playAdpcm(const uint8_t* payload, uint32_t length) override;
  AudioCodecMode mode() const override { return mode_.load(); }
  void setMode(AudioCodecMode mode) override { mode_.store(mode); }
  // Routes the open and close notifications to onDeviceOpened and onDeviceClosed.
  void onDeviceMessage(uint32_t msg, uintptr_t wParam) override;

  // The device's notifications, delivered to the audio window (UI thread). Each carries the
  // handle of the device that sent it; one from a device other than the open one is ignored.
  void onDeviceOpened(platform::WaveOutHandle handle);
  void onDeviceClosed(platform::WaveOutHandle handle);

  // Block length of a mode.
  static uint32_t blockLength(AudioCodecMode mode) {
    return mode == AudioCodecMode::G726 ? kG726BlockLength : kAdpcmBlockLength;
  }

  // Inspection (tests, diagnostics).
  platform::WaveOutHandle device() const;
  int ring() const;
  std::vector<uint8_t> blockBytes(int index) const;

 private:
  void fillBlocksLocked(uint32_t length);
  void queueNextLocked(const uint8_t* pcm, uint32_t bytes);

  platform::IWaveOut& waveOut_;
  std::atomic<AudioCodecMode> mode_{AudioCodecMode::G726};

  // The UI thread (reset, the user's open and close, the notifications) and the audio receive
  // thread (playing) both use the fields below; mutex_ guards them all.
  mutable std::mutex mutex_;
  platform::WaveOutHandle device_ = platform::kNoWaveOut;
  std::array<platform::WaveHeader, kBlockCount> headers_;
  std::vector<uint8_t> blocks_;  // kBlockCount * kBlockCapacity bytes, contiguous
  int ring_ = 0;                 // block the next payload goes to, 0..4
  WindowId callbackWindow_ = kNoWindow;
  std::vector<int16_t> scratch_;  // decoder output, kBlockCapacity bytes
  CAdpcmDecoder decoder_;
  G726LibraryState g726State_;
};
