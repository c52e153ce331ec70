#pragma once
// Counters the connections bump and the control interface prints.
#include <atomic>
#include <cstdint>
#include <string>

namespace dvremu {

struct EmulatorStats {
  std::atomic<uint64_t> connectionsAccepted{0};
  std::atomic<uint64_t> loginsAccepted{0};
  std::atomic<uint64_t> loginsRefused{0};
  std::atomic<uint64_t> messagesSent{0};
  std::atomic<uint64_t> messagesReceived{0};
  std::atomic<uint64_t> bytesSent{0};
  std::atomic<uint64_t> framesServed{0};
  std::atomic<uint64_t> frameBytesServed{0};
  std::atomic<uint64_t> audioBlocksSent{0};
  std::atomic<uint64_t> noticesSent{0};
  std::atomic<uint64_t> ptzCommands{0};
  std::atomic<uint64_t> sessionsDropped{0};

  std::string describe() const;
};

}  // namespace dvremu
