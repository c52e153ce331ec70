#pragma once
// Feeds control commands to the emulator from standard input and from a local (unix) socket,
// each on its own thread; answers go back where the command came from.
#include <string>
#include <thread>

#include "control_socket.h"
#include "dvr_emulator.h"
#include "socket_io.h"

namespace dvremu {

class CommandInput {
 public:
  explicit CommandInput(DvrEmulator& emulator) : emulator_(emulator) {}
  ~CommandInput() { stop(); }
  CommandInput(const CommandInput&) = delete;
  CommandInput& operator=(const CommandInput&) = delete;

  // inputFd: a stream of lines (standard input), -1 for none; socketPath: empty for none.
  bool start(int inputFd, int outputFd, const std::string& socketPath, std::string* error);
  void stop();

 private:
  void readLines(int inputFd, int outputFd);
  void serveSocket();

  DvrEmulator& emulator_;
  WakeEvent stop_;
  UniqueFd socket_;
  std::string socketPath_;
  ControlSocketIdentity socketIdentity_;
  std::thread streamThread_;
  std::thread socketThread_;
};

}  // namespace dvremu
