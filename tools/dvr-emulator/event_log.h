#pragma once
// Log lines to standard error, one writer at a time; tests can silence them.
#include <atomic>
#include <string>

namespace dvremu {

class EventLog {
 public:
  void info(const std::string& line) const;
  // Header traces, printed only in verbose mode.
  void trace(const std::string& line) const;
  bool verbose() const { return verbose_.load(std::memory_order_relaxed); }
  void setVerbose(bool on) { verbose_.store(on, std::memory_order_relaxed); }
  void setQuiet(bool on) { quiet_.store(on, std::memory_order_relaxed); }

 private:
  std::atomic<bool> verbose_{false};
  std::atomic<bool> quiet_{false};
};

}  // namespace dvremu
