#pragma once
// "No device": the system has no output and no WAV file was asked for. Reports zero devices and
// refuses every call, as a machine without a sound card does.
#include "platform/wave_out.h"

namespace platform {

class CNoWaveOut final : public IWaveOut {
 public:
  uint32_t numDevices() override { return 0; }
  uint32_t open(WaveOutHandle* handle, uint32_t, const WaveFormat&, WindowId) override {
    if (handle != nullptr) *handle = kNoWaveOut;
    return kMmNoDriver;
  }
  uint32_t prepareHeader(WaveOutHandle, WaveHeader*) override { return kMmInvalidHandle; }
  uint32_t unprepareHeader(WaveOutHandle, WaveHeader*) override { return kMmInvalidHandle; }
  uint32_t write(WaveOutHandle, WaveHeader*) override { return kMmInvalidHandle; }
  uint32_t reset(WaveOutHandle) override { return kMmInvalidHandle; }
  uint32_t close(WaveOutHandle) override { return kMmInvalidHandle; }
  uint32_t getDevCaps(uint32_t, WaveOutCaps*) override { return kMmBadDeviceId; }
  uint32_t getVolume(uint32_t, uint32_t*) override { return kMmBadDeviceId; }
  uint32_t setVolume(uint32_t, uint32_t) override { return kMmBadDeviceId; }
};

}  // namespace platform
