#pragma once
// One run: emulator with the scenario's faults, the real viewer in kiosk mode against it, and the
// checks of what the viewer reported.
#include <string>
#include <vector>

#include "scenario.h"

struct RunSettings {
  std::string viewer;     // build/asan/src/pelloxview
  std::string emulator;   // build/asan/tools/dvr-emulator/dvr-emulator
  std::string workDir;    // a fresh folder per run is made inside
  bool keepLogs = false;  // keep the folder of a passing run too
};

struct RunResult {
  bool passed = false;
  std::vector<std::string> failures;
  long long slowestUiMs = -1;
  long long heldUiMs = -1;
  std::string finalStatus;  // the first session's last status text
  std::string logDir;       // kept for failing runs
  double seconds = 0;
};

RunResult runScenario(const Scenario& scenario, const RunSettings& settings);
