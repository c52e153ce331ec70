#include "event_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace dvremu {
namespace {
std::mutex gWriteMutex;  // keeps lines from different threads whole

void writeLine(const std::string& raw) {
  const std::string line = printableText(raw);
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                local.tm_sec, static_cast<int>(millis));
  std::lock_guard lock(gWriteMutex);
  std::fprintf(stderr, "%s dvr-emulator: %s\n", stamp, line.c_str());
}
}  // namespace

std::string printableText(const std::string& text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\\') {
      out += "\\\\";
    } else if (byte >= 0x20 && byte < 0x7F) {
      out += c;
    } else {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
  }
  return out;
}

void EventLog::info(const std::string& line) const {
  if (!quiet_.load(std::memory_order_relaxed)) writeLine(line);
}

void EventLog::trace(const std::string& line) const {
  if (verbose() && !quiet_.load(std::memory_order_relaxed)) writeLine(line);
}

void EventLog::setWireSink(WireEventSink sink) {
  std::lock_guard lock(sinkMutex_);
  sink_ = std::move(sink);
  hasSink_.store(static_cast<bool>(sink_), std::memory_order_release);
}

void EventLog::recordWire(const WireEvent& event) const {
  std::lock_guard lock(sinkMutex_);
  if (sink_) sink_(event);
}

void EventLog::setFrameSendSink(FrameSendSink sink) {
  std::lock_guard lock(frameSinkMutex_);
  frameSink_ = std::move(sink);
  hasFrameSink_.store(static_cast<bool>(frameSink_), std::memory_order_release);
}

void EventLog::recordFrameSend(const FrameSendEvent& event) const {
  // Without a sink (every run but a benchmark's) no lock is taken per frame.
  if (!hasFrameSink_.load(std::memory_order_acquire)) return;
  std::lock_guard lock(frameSinkMutex_);
  if (frameSink_) frameSink_(event);
}

}  // namespace dvremu
