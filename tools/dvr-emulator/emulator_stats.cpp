#include "emulator_stats.h"

namespace dvremu {

std::string EmulatorStats::describe() const {
  auto line = [](const char* name, const std::atomic<uint64_t>& value) {
    return std::string("  ") + name + std::string(" ") +
           std::to_string(value.load(std::memory_order_relaxed)) + "\n";
  };
  return line("connections", connectionsAccepted) + line("logins-accepted", loginsAccepted) +
         line("logins-refused", loginsRefused) + line("messages-sent", messagesSent) +
         line("messages-received", messagesReceived) + line("bytes-sent", bytesSent) +
         line("frames", framesServed) + line("frame-bytes", frameBytesServed) +
         line("audio-blocks", audioBlocksSent) + line("notices", noticesSent) +
         line("ptz-commands", ptzCommands) + line("sessions-dropped", sessionsDropped);
}

}  // namespace dvremu
