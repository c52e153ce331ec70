#pragma once
// A wave-out device for tests: the real device bookkeeping (handles, queue refusal,
// notifications), an output that keeps blocks queued until the test plays them, and a log of
// every call with its result.
#include <algorithm>
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
  using Handle = platform::WaveOutHandle;
  using Header = platform::WaveHeader;

 public:
  ~CRecordingWaveOut() override { closeAll(); }

  uint32_t open(Handle* h, uint32_t id, const platform::WaveFormat& format,
                WindowId window) override {
    const uint32_t r = CWaveOutDevice::open(h, id, format, window);
    return log("open", h ? *h : 0, nullptr, r);
  }
  uint32_t prepareHeader(Handle h, Header* header) override {
    return log("prepare", h, header, CWaveOutDevice::prepareHeader(h, header));
  }
  uint32_t unprepareHeader(Handle h, Header* header) override {
    return log("unprepare", h, header, CWaveOutDevice::unprepareHeader(h, header));
  }
  uint32_t write(Handle h, Header* header) override {
    return log("write", h, header, CWaveOutDevice::write(h, header));
  }
  uint32_t reset(Handle h) override { return log("reset", h, nullptr, CWaveOutDevice::reset(h)); }
  uint32_t close(Handle h) override { return log("close", h, nullptr, CWaveOutDevice::close(h)); }

  // Plays the oldest block still queued on h (the device reports it done). False if none.
  bool playOne(Handle h) {
    uint64_t serial = 0;
    {
      std::lock_guard lock(mutex_);
      const auto it = std::ranges::find(pending_, h, &std::pair<Handle, uint64_t>::first);
      if (it == pending_.end()) return false;
      serial = it->second;
      pending_.erase(it);
    }
    blockPlayed(h, serial);
    return true;
  }

  std::vector<WaveOutCall> calls() { return locked(calls_); }
  // Bytes of every block the outputs accepted, in order.
  std::vector<uint8_t> played() { return locked(played_); }
  void clearCalls() {
    std::lock_guard lock(mutex_);
    calls_.clear();
  }

 protected:
  std::unique_ptr<platform::IWaveOutput> createOutput(Handle h, const platform::WaveFormat&,
                                                      uint32_t*) override {
    return std::make_unique<Output>(*this, h);
  }
  std::u16string deviceName() const override { return u"recording"; }

 private:
  struct Output final : platform::IWaveOutput {
    Output(CRecordingWaveOut& o, Handle h) : owner(o), handle(h) {}
    bool play(uint64_t serial, const uint8_t* data, uint32_t length) override {
      std::lock_guard lock(owner.mutex_);
      owner.played_.insert(owner.played_.end(), data, data + length);
      owner.pending_.emplace_back(handle, serial);
      return false;
    }
    void discard() override {
      std::lock_guard lock(owner.mutex_);
      std::erase_if(owner.pending_, [this](const auto& p) { return p.first == handle; });
    }
    void setVolume(uint32_t) override {}
    CRecordingWaveOut& owner;
    const Handle handle;
  };

  uint32_t log(const char* op, Handle h, const Header* header, uint32_t result) {
    std::lock_guard lock(mutex_);
    calls_.push_back({op, h, header ? static_cast<int>(header->user) : -1,
                      header ? header->bufferLength : 0, result});
    return result;
  }
  template <typename T>
  T locked(const T& field) {
    std::lock_guard lock(mutex_);
    return field;
  }

  std::mutex mutex_;  // guards the fields below: test, receive and UI threads all call in
  std::vector<WaveOutCall> calls_;
  std::vector<uint8_t> played_;
  std::vector<std::pair<Handle, uint64_t>> pending_;
};
