#pragma once
// The WAV-file backend: every block the device accepts is appended to one WAV file at once, so
// the file holds exactly what a speaker would have played, in order. One file serves every
// device opened by the process (a reopened device continues it). Volume is kept and reported
// but not applied: the file holds the signal, not the loudness.
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/wave_out/wave_out_device.h"

namespace platform {

class CWavFileWaveOut final : public CWaveOutDevice {
 public:
  explicit CWavFileWaveOut(std::string path);
  ~CWavFileWaveOut() override;

  const std::string& path() const { return path_; }

  // Appends samples; false when the file can't be written. Called with the device's lock held.
  bool append(const uint8_t* data, uint32_t length);
  // Why the file could not be created or written in full; empty while all went well.
  std::string error() const;

 protected:
  std::unique_ptr<IWaveOutput> createOutput(WaveOutHandle handle, const WaveFormat& format,
                                            uint32_t* error) override;
  std::u16string deviceName() const override { return u"WAV file"; }

 private:
  bool writeHeaderLocked();
  void failLocked(const char* what);

  const std::string path_;
  mutable std::mutex fileMutex_;  // guards the fields below
  std::FILE* file_ = nullptr;
  WaveFormat format_;
  uint32_t dataBytes_ = 0;
  std::string error_;  // the first failure
};

}  // namespace platform
