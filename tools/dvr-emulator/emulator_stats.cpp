#include "emulator_stats.h"

namespace dvremu {

void EmulatorStats::countChannelRequest(int channel) {
  if (channel >= 0 && static_cast<size_t>(channel) < kChannels)
    channelRequests[static_cast<size_t>(channel)].fetch_add(1, std::memory_order_relaxed);
}

void EmulatorStats::countFrame(int channel, size_t payloadBytes) {
  framesServed.fetch_add(1, std::memory_order_relaxed);
  frameBytesServed.fetch_add(payloadBytes, std::memory_order_relaxed);
  if (channel < 0 || static_cast<size_t>(channel) >= kChannels) return;
  channelFrames[static_cast<size_t>(channel)].fetch_add(1, std::memory_order_relaxed);
  channelBytes[static_cast<size_t>(channel)].fetch_add(payloadBytes, std::memory_order_relaxed);
}

std::string EmulatorStats::describe() const {
  auto line = [](const char* name, const std::atomic<uint64_t>& value) {
    return std::string("  ") + name + std::string(" ") +
           std::to_string(value.load(std::memory_order_relaxed)) + "\n";
  };
  return line("connections", connectionsAccepted) +
         line("connections-refused", connectionsRefused) + line("login-timeouts", loginTimeouts) +
         line("logins-accepted", loginsAccepted) + line("logins-refused", loginsRefused) +
         line("messages-sent", messagesSent) + line("messages-received", messagesReceived) +
         line("bytes-sent", bytesSent) + line("frames", framesServed) +
         line("frame-bytes", frameBytesServed) + line("audio-blocks", audioBlocksSent) +
         line("notices", noticesSent) + line("ptz-commands", ptzCommands) +
         line("sessions-dropped", sessionsDropped) + describeChannels();
}

std::string EmulatorStats::describeChannels() const {
  std::string text;
  for (size_t channel = 0; channel < kChannels; ++channel) {
    const uint64_t requests = channelRequests[channel].load(std::memory_order_relaxed);
    const uint64_t frames = channelFrames[channel].load(std::memory_order_relaxed);
    if (requests == 0 && frames == 0) continue;
    text += "  channel " + std::to_string(channel + 1) + " requests " + std::to_string(requests) +
            " frames " + std::to_string(frames) + " frame-bytes " +
            std::to_string(channelBytes[channel].load(std::memory_order_relaxed)) + "\n";
  }
  return text;
}

}  // namespace dvremu
