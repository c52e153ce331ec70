#include "recording_wave_out.h"

#include <algorithm>

using namespace platform;

class CRecordingOutput final : public IWaveOutput {
 public:
  CRecordingOutput(CRecordingWaveOut& owner, WaveOutHandle handle)
      : owner_(owner), handle_(handle) {}
  bool play(uint64_t serial, const uint8_t* data, uint32_t length) override {
    std::lock_guard lock(owner_.mutex_);
    owner_.played_.insert(owner_.played_.end(), data, data + length);
    owner_.pending_.emplace_back(handle_, serial);
    return false;
  }
  void discard() override {
    std::lock_guard lock(owner_.mutex_);
    std::erase_if(owner_.pending_, [this](const auto& p) { return p.first == handle_; });
  }
  void setVolume(uint32_t) override {}

 private:
  CRecordingWaveOut& owner_;
  const WaveOutHandle handle_;
};

void CRecordingWaveOut::log(const std::string& op, WaveOutHandle handle, const WaveHeader* header,
                            uint32_t result) {
  std::lock_guard lock(mutex_);
  calls_.push_back({op, handle, header ? static_cast<int>(header->user) : -1,
                    header ? header->bufferLength : 0, result});
}

uint32_t CRecordingWaveOut::open(WaveOutHandle* handle, uint32_t deviceId, const WaveFormat& format,
                                 WindowId window) {
  const uint32_t r = CWaveOutDevice::open(handle, deviceId, format, window);
  {
    std::lock_guard lock(mutex_);
    format_ = format;
  }
  log("open", handle ? *handle : 0, nullptr, r);
  return r;
}
uint32_t CRecordingWaveOut::prepareHeader(WaveOutHandle handle, WaveHeader* header) {
  const uint32_t r = CWaveOutDevice::prepareHeader(handle, header);
  log("prepare", handle, header, r);
  return r;
}
uint32_t CRecordingWaveOut::unprepareHeader(WaveOutHandle handle, WaveHeader* header) {
  const uint32_t r = CWaveOutDevice::unprepareHeader(handle, header);
  log("unprepare", handle, header, r);
  return r;
}
uint32_t CRecordingWaveOut::write(WaveOutHandle handle, WaveHeader* header) {
  const uint32_t r = CWaveOutDevice::write(handle, header);
  log("write", handle, header, r);
  return r;
}
uint32_t CRecordingWaveOut::reset(WaveOutHandle handle) {
  const uint32_t r = CWaveOutDevice::reset(handle);
  log("reset", handle, nullptr, r);
  return r;
}
uint32_t CRecordingWaveOut::close(WaveOutHandle handle) {
  const uint32_t r = CWaveOutDevice::close(handle);
  log("close", handle, nullptr, r);
  return r;
}

bool CRecordingWaveOut::playOne(WaveOutHandle handle) {
  uint64_t serial = 0;
  {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(pending_.begin(), pending_.end(),
                           [handle](const auto& p) { return p.first == handle; });
    if (it == pending_.end()) return false;
    serial = it->second;
    pending_.erase(it);
  }
  blockPlayed(handle, serial);
  return true;
}

std::vector<WaveOutCall> CRecordingWaveOut::calls() {
  std::lock_guard lock(mutex_);
  return calls_;
}
void CRecordingWaveOut::clearCalls() {
  std::lock_guard lock(mutex_);
  calls_.clear();
}
std::vector<uint8_t> CRecordingWaveOut::played() {
  std::lock_guard lock(mutex_);
  return played_;
}
WaveFormat CRecordingWaveOut::lastFormat() {
  std::lock_guard lock(mutex_);
  return format_;
}

std::unique_ptr<IWaveOutput> CRecordingWaveOut::createOutput(WaveOutHandle handle,
                                                             const WaveFormat&, uint32_t*) {
  return std::make_unique<CRecordingOutput>(*this, handle);
}
