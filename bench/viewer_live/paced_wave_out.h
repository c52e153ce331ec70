#pragma once
// A wave-out device that plays in real time without sound: each queued block takes its length
// in samples at the device's rate, blocks play back to back, and a block that arrives after the
// one before it has finished counts as an underrun (the device ran dry between blocks).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/wave_out/wave_out_device.h"

namespace bench {

class CPacedWaveOut final : public platform::CWaveOutDevice {
 public:
  using Clock = std::chrono::steady_clock;

  ~CPacedWaveOut() override { closeAll(); }

  uint32_t write(platform::WaveOutHandle handle, platform::WaveHeader* header) override {
    const uint32_t result = CWaveOutDevice::write(handle, header);
    if (result == platform::kWaveStillPlaying) refused_.fetch_add(1);
    return result;
  }

  // Counted since the last clearCounts (any thread).
  uint64_t blocksPlayed() const { return played_.load(); }
  uint64_t underruns() const { return underruns_.load(); }
  double longestGapMs() const { return longestGapUs_.load() / 1000.0; }
  // Blocks whose queue call was refused because they were still queued: their new samples are
  // never played.
  uint64_t refused() const { return refused_.load(); }
  void clearCounts() {
    refused_.store(0);
    played_.store(0);
    underruns_.store(0);
    longestGapUs_.store(0);
  }

 protected:
  std::unique_ptr<platform::IWaveOutput> createOutput(platform::WaveOutHandle handle,
                                                      const platform::WaveFormat& format,
                                                      uint32_t*) override {
    return std::make_unique<Output>(*this, handle, std::max<uint32_t>(1, format.avgBytesPerSec));
  }
  std::u16string deviceName() const override { return u"paced"; }

 private:
  class Output final : public platform::IWaveOutput {
   public:
    Output(CPacedWaveOut& owner, platform::WaveOutHandle handle, uint32_t bytesPerSecond)
        : owner_(owner), handle_(handle), bytesPerSecond_(bytesPerSecond) {
      thread_ = std::thread([this] { run(); });
    }
    ~Output() override {
      {
        std::lock_guard lock(mutex_);
        stop_ = true;
      }
      wake_.notify_all();
      thread_.join();
    }

    bool play(uint64_t serial, const uint8_t*, uint32_t length) override {
      const auto now = Clock::now();
      std::lock_guard lock(mutex_);
      if (started_ && now > busyUntil_) {
        owner_.underruns_.fetch_add(1);
        const auto gap =
            std::chrono::duration_cast<std::chrono::microseconds>(now - busyUntil_).count();
        uint64_t longest = owner_.longestGapUs_.load();
        while (static_cast<uint64_t>(gap) > longest &&
               !owner_.longestGapUs_.compare_exchange_weak(longest, static_cast<uint64_t>(gap))) {
        }
      }
      const auto start = started_ ? std::max(now, busyUntil_) : now;
      started_ = true;
      busyUntil_ = start + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>(double(length) / bytesPerSecond_));
      queue_.push_back({serial, busyUntil_});
      wake_.notify_all();
      return false;
    }
    void discard() override {
      std::lock_guard lock(mutex_);
      queue_.clear();
      started_ = false;
    }
    void setVolume(uint32_t) override {}

   private:
    struct Pending {
      uint64_t serial;
      Clock::time_point done;
    };
    // The device's own thread: reports each block when its last sample has played.
    void run() {
      std::unique_lock lock(mutex_);
      while (!stop_) {
        if (queue_.empty()) {
          wake_.wait(lock);
          continue;
        }
        const Pending next = queue_.front();
        if (Clock::now() < next.done) {
          wake_.wait_until(lock, next.done);
          continue;
        }
        queue_.pop_front();
        lock.unlock();
        owner_.played_.fetch_add(1);
        owner_.blockPlayed(handle_, next.serial);
        lock.lock();
      }
    }

    CPacedWaveOut& owner_;
    const platform::WaveOutHandle handle_;
    const uint32_t bytesPerSecond_;
    std::mutex mutex_;  // guards the fields below: caller threads queue, the device thread plays
    std::condition_variable wake_;
    std::deque<Pending> queue_;
    Clock::time_point busyUntil_{};
    bool started_ = false;
    bool stop_ = false;
    std::thread thread_;
  };

  std::atomic<uint64_t> refused_{0};
  std::atomic<uint64_t> played_{0};
  std::atomic<uint64_t> underruns_{0};
  std::atomic<uint64_t> longestGapUs_{0};
};

}  // namespace bench
