#pragma once
// Times each live frame from the moment the emulator sends it to its pixels in display memory
// (the display's end of frame) and to the screen (the paint of the display widget).
//
// The viewer pulls one frame at a time, so the frame that ends in display memory is always the
// one the emulator sent last: no frame numbers need to travel with the pixels.
#include <QEvent>
#include <QObject>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/display_qt_backend.h"

namespace bench {

inline int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

struct Percentiles {
  double median = 0, p99 = 0;
  size_t count = 0;
};

inline Percentiles percentiles(std::vector<double> samples) {
  Percentiles result;
  result.count = samples.size();
  if (samples.empty()) return result;
  std::sort(samples.begin(), samples.end());
  result.median = samples[samples.size() / 2];
  result.p99 = samples[std::min(samples.size() - 1, samples.size() * 99 / 100)];
  return result;
}

class CFrameProbe final : public QObject {
 public:
  // Emulator's live-stream thread, just before a frame goes out.
  void onSend(int channel, int threadId) {
    lastSendChannel_.store(channel);
    senderThread_.store(threadId);
    lastSendNs_.store(nowNs());
  }

  // Drawing thread, at the end of every frame in display memory.
  void onFrameEnd() {
    const int64_t now = nowNs();
    const int64_t sent = lastSendNs_.load();
    const int channel = lastSendChannel_.load();
    drawnChannel_.store(channel);
    if (channel == awaitedChannel_.load() && firstPictureNs_.load() == 0) {
      firstPictureNs_.store(now);
    }
    if (sent == 0 || sent == lastDrawnSendNs_) return;
    lastDrawnSendNs_ = sent;  // drawing thread only
    frontSendNs_.store(sent);
    std::lock_guard lock(mutex_);
    toMemoryMs_.push_back(double(now - sent) / 1e6);
  }

  // UI thread: the display widget is about to paint the newest picture.
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && qobject_cast<CDisplayWidget*>(watched) != nullptr) {
      const int64_t sent = frontSendNs_.load();
      if (sent != 0 && sent != lastPaintedSendNs_) {
        lastPaintedSendNs_ = sent;
        std::lock_guard lock(mutex_);
        toScreenMs_.push_back(double(nowNs() - sent) / 1e6);
      }
    }
    return false;
  }

  // The next picture of this channel in display memory is timed (-1: none).
  void awaitChannel(int channel) {
    firstPictureNs_.store(0);
    awaitedChannel_.store(channel);
  }
  int64_t firstPictureNs() const { return firstPictureNs_.load(); }
  int drawnChannel() const { return drawnChannel_.load(); }
  int senderThread() const { return senderThread_.load(); }

  void clearSamples() {
    std::lock_guard lock(mutex_);
    toMemoryMs_.clear();
    toScreenMs_.clear();
  }
  // Appends the samples taken so far to the two lists and starts afresh.
  void takeSamples(std::vector<double>* toMemory, std::vector<double>* toScreen) {
    std::lock_guard lock(mutex_);
    toMemory->insert(toMemory->end(), toMemoryMs_.begin(), toMemoryMs_.end());
    toScreen->insert(toScreen->end(), toScreenMs_.begin(), toScreenMs_.end());
    toMemoryMs_.clear();
    toScreenMs_.clear();
  }
  Percentiles toMemory() const {
    std::lock_guard lock(mutex_);
    return percentiles(toMemoryMs_);
  }
  Percentiles toScreen() const {
    std::lock_guard lock(mutex_);
    return percentiles(toScreenMs_);
  }

 private:
  std::atomic<int64_t> lastSendNs_{0};
  std::atomic<int> lastSendChannel_{-1};
  std::atomic<int> senderThread_{0};
  std::atomic<int> drawnChannel_{-1};
  std::atomic<int> awaitedChannel_{-1};
  std::atomic<int64_t> firstPictureNs_{0};
  std::atomic<int64_t> frontSendNs_{0};
  int64_t lastDrawnSendNs_ = 0;    // drawing threads, one at a time under the display's lock
  int64_t lastPaintedSendNs_ = 0;  // UI thread
  mutable std::mutex mutex_;       // guards the samples: drawing thread and UI thread add
  std::vector<double> toMemoryMs_;
  std::vector<double> toScreenMs_;
};

}  // namespace bench
