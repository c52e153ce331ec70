#pragma once
// One campaign run, drawn from its seed: the emulator's start-up faults, the commands sent while
// the viewer runs, and what the viewer's last status and messages must be.
#include <cstdint>
#include <string>
#include <vector>

struct Scenario {
  uint64_t seed = 0;
  std::vector<std::string> kinds;         // fault kinds, for the counts
  std::vector<std::string> startFaults;   // --fault arguments
  std::vector<std::string> liveCommands;  // control-socket commands once a session runs
  std::vector<std::string> emulatorArgs;  // e.g. the MPEG-4 channel
  int channel = 1;
  double quitAfterSeconds = 4;

  // What the end of the first session must show.
  enum class Expect {
    Connected,     // nothing ends the session: "... Connected.", a notice, or empty (shown channel)
    Refused,       // empty status; refusalMessage shown (none when it is empty)
    LinkLost,      // "... Disconnected." or a kept notice (silent DVR: within the link timeout)
    ErrorMessage,  // errorMessage shown; any status the preparation can be in
    Any,           // any of the texts a session can end in
  };
  Expect expect = Expect::Any;
  std::string refusalMessage;
  std::string errorMessage;
};

// The scenario of one run; the same seed always gives the same scenario.
Scenario drawScenario(uint64_t seed);

// A short description for failure reports.
std::string describe(const Scenario& scenario);
