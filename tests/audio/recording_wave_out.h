#pragma once
// A wave-out device for tests: the real device bookkeeping (handles, queue refusal,
// notifications), an output that keeps blocks queued until the test plays them, and a log of
// every call with its result.
#include <mutex>
#include <string>
#include <vector>

#include "platform/wave_out/wave_out_device.h"

struct WaveOutCall {
  std::string op;  // open, prepare, unprepare, write, reset, close
  platform::WaveOutHandle handle;
  int user;               // header user data, -1 without a header
  uint32_t bufferLength;  // header length, 0 without a header
  uint32_t result;
};

class CRecordingWaveOut final : public platform::CWaveOutDevice {
 public:
  ~CRecordingWaveOut() override { closeAll(); }

  uint32_t open(platform::WaveOutHandle* handle, uint32_t deviceId,
                const platform::WaveFormat& format, WindowId window) override;
  uint32_t prepareHeader(platform::WaveOutHandle handle, platform::WaveHeader* header) override;
  uint32_t unprepareHeader(platform::WaveOutHandle handle, platform::WaveHeader* header) override;
  uint32_t write(platform::WaveOutHandle handle, platform::WaveHeader* header) override;
  uint32_t reset(platform::WaveOutHandle handle) override;
  uint32_t close(platform::WaveOutHandle handle) override;

  // Plays the oldest block still queued on handle (the device reports it done). False if none.
  bool playOne(platform::WaveOutHandle handle);

  std::vector<WaveOutCall> calls();
  void clearCalls();
  // Bytes of every block the outputs accepted, in order.
  std::vector<uint8_t> played();
  platform::WaveFormat lastFormat();

 protected:
  std::unique_ptr<platform::IWaveOutput> createOutput(platform::WaveOutHandle handle,
                                                      const platform::WaveFormat& format,
                                                      uint32_t* error) override;
  std::u16string deviceName() const override { return u"recording"; }

 private:
  friend class CRecordingOutput;
  void log(const std::string& op, platform::WaveOutHandle handle,
           const platform::WaveHeader* header, uint32_t result);

  std::mutex mutex_;  // guards the fields below
  std::vector<WaveOutCall> calls_;
  std::vector<uint8_t> played_;
  std::vector<std::pair<platform::WaveOutHandle, uint64_t>> pending_;
  platform::WaveFormat format_;
};
