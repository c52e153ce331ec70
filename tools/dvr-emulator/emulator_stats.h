#pragma once
// Counters the connections bump and the control interface prints.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace dvremu {

struct EmulatorStats {
  std::atomic<uint64_t> connectionsAccepted{0};
  std::atomic<uint64_t> connectionsRefused{0};  // over --max-connections, or no thread for them
  std::atomic<uint64_t> loginTimeouts{0};
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

  // Per channel (counted from 0): frame requests received and frames served, on every session.
  static constexpr size_t kChannels = 16;
  std::array<std::atomic<uint64_t>, kChannels> channelRequests{};
  std::array<std::atomic<uint64_t>, kChannels> channelFrames{};
  std::array<std::atomic<uint64_t>, kChannels> channelBytes{};
  void countChannelRequest(int channel);  // any number; outside 0..15 is not counted
  void countFrame(int channel, size_t payloadBytes);

  std::string describe() const;
  // One line per channel that was asked for or served.
  std::string describeChannels() const;
};

}  // namespace dvremu
