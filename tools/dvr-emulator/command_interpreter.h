#pragma once
// The line-based control interface: one command per line, an answer of one or more lines.
#include <string>
#include <vector>

#include "emulator_core.h"

namespace dvremu {

class CommandInterpreter {
 public:
  explicit CommandInterpreter(EmulatorCore& core) : core_(core) {}
  std::string run(const std::string& line);
  bool quitRequested() const { return quit_; }
  static std::string helpText();
  // The command line for a --fault option: a whole fault, fail or refuse-next command, or the
  // arguments of a fault command ("live stall 3").
  static std::string startCommand(const std::string& option);

 private:
  std::string notice(const std::vector<std::string>& words);
  std::string dropOrSilence(const std::vector<std::string>& words);
  std::string fault(const std::vector<std::string>& words);
  std::string listConnections();
  std::string stats();
  std::string liveStop(const std::vector<std::string>& words);
  std::string chatter(const std::vector<std::string>& words);

  EmulatorCore& core_;
  bool quit_ = false;
};

}  // namespace dvremu
