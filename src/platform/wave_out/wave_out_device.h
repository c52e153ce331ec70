#pragma once
// The bookkeeping every real wave-out backend shares: handles, prepared and queued headers, the
// notifications. Backends only supply where the bytes of a queued block go (an IWaveOutput).
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/wave_out.h"

namespace platform {

// Where the samples of one open device go.
class IWaveOutput {
 public:
  virtual ~IWaveOutput() = default;
  // Takes a copy of one block. True when the block is consumed at once; otherwise the output
  // reports it through CWaveOutDevice::blockPlayed when it has taken the last byte.
  virtual bool play(uint64_t serial, const uint8_t* data, uint32_t length) = 0;
  // Drops every block not yet played.
  virtual void discard() = 0;
  virtual void setVolume(uint32_t volume) = 0;
};

class CWaveOutDevice : public IWaveOut {
 public:
  CWaveOutDevice() = default;
  ~CWaveOutDevice() override;
  CWaveOutDevice(const CWaveOutDevice&) = delete;
  CWaveOutDevice& operator=(const CWaveOutDevice&) = delete;

  uint32_t numDevices() override { return 1; }
  uint32_t open(WaveOutHandle* handle, uint32_t deviceId, const WaveFormat& format,
                WindowId callbackWindow) override;
  uint32_t prepareHeader(WaveOutHandle handle, WaveHeader* header) override;
  uint32_t unprepareHeader(WaveOutHandle handle, WaveHeader* header) override;
  uint32_t write(WaveOutHandle handle, WaveHeader* header) override;
  uint32_t reset(WaveOutHandle handle) override;
  uint32_t close(WaveOutHandle handle) override;
  uint32_t getDevCaps(uint32_t deviceId, WaveOutCaps* caps) override;
  uint32_t getVolume(uint32_t deviceId, uint32_t* volume) override;
  uint32_t setVolume(uint32_t deviceId, uint32_t volume) override;

  // From an output, on any thread: the block with this serial has been played.
  void blockPlayed(WaveOutHandle handle, uint64_t serial);

 protected:
  // Creates the output of a new device; null with *error set when it can't.
  virtual std::unique_ptr<IWaveOutput> createOutput(WaveOutHandle handle, const WaveFormat& format,
                                                    uint32_t* error) = 0;
  virtual std::u16string deviceName() const = 0;
  // Closes every device that is still open; backends call it from their destructors so that no
  // output outlives what it writes to.
  void closeAll();

 private:
  struct Queued {
    uint64_t serial;
    WaveHeader* header;
  };
  struct Device {
    WindowId window = kNoWindow;
    std::vector<WaveHeader*> prepared;
    std::deque<Queued> queue;
    std::shared_ptr<IWaveOutput> output;
  };

  void finishLocked(WaveOutHandle handle, Device& device, WaveHeader* header);
  Device* findLocked(WaveOutHandle handle);

  // Guards everything below; callers are the UI thread, the audio receive thread and output
  // threads. Outputs are created and destroyed outside it (the Qt output blocks on its thread).
  std::mutex mutex_;
  std::map<WaveOutHandle, Device> devices_;
  uint64_t nextSerial_ = 1;
  uint32_t volume_ = 0xFFFFFFFFu;
};

// A handle that no device of this process has had before.
WaveOutHandle newWaveOutHandle();

bool isSupportedFormat(const WaveFormat& format);

}  // namespace platform
