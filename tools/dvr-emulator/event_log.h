#pragma once
// Log lines to standard error, one writer at a time; tests can silence them.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace dvremu {

// One message the emulator received, as an in-process test sees it.
struct WireEvent {
  int connection = 0;
  std::string kind;  // "control", "notice", "live", "audio", ...
  uint32_t command = 0;
  std::vector<uint8_t> body;
};
using WireEventSink = std::function<void(const WireEvent&)>;

// A live frame about to go out, as an in-process benchmark sees it (called on the live-stream
// thread just before the frame's first byte is written).
struct FrameSendEvent {
  int channel = 0;  // 0-based
  uint64_t number = 0;
};
using FrameSendSink = std::function<void(const FrameSendEvent&)>;

// The text with every byte outside printable ASCII as \xNN and a backslash doubled, so what a
// peer sends (a user name, say) can't reach the operator's terminal as control sequences.
std::string printableText(const std::string& text);

class EventLog {
 public:
  void info(const std::string& line) const;
  // Header traces, printed only in verbose mode.
  void trace(const std::string& line) const;
  bool verbose() const { return verbose_.load(std::memory_order_relaxed); }
  void setVerbose(bool on) { verbose_.store(on, std::memory_order_relaxed); }
  void setQuiet(bool on) { quiet_.store(on, std::memory_order_relaxed); }
  // Every received message goes to the sink too (tests that check what a viewer sent).
  void setWireSink(WireEventSink sink);
  bool hasWireSink() const { return hasSink_.load(std::memory_order_acquire); }
  void recordWire(const WireEvent& event) const;
  // Every live frame sent goes to this sink too (latency benchmarks).
  void setFrameSendSink(FrameSendSink sink);
  void recordFrameSend(const FrameSendEvent& event) const;

 private:
  std::atomic<bool> verbose_{false};
  std::atomic<bool> quiet_{false};
  std::atomic<bool> hasSink_{false};
  mutable std::mutex sinkMutex_;  // guards sink_; connection threads call it one at a time
  WireEventSink sink_;
  std::atomic<bool> hasFrameSink_{false};
  mutable std::mutex frameSinkMutex_;  // guards frameSink_; live-stream threads call it
  FrameSendSink frameSink_;
};

}  // namespace dvremu
