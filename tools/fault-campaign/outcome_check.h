#pragma once
// What the viewer's stderr of one run says, and whether it is what the scenario allows.
#include <optional>
#include <string>
#include <vector>

#include "scenario.h"

struct ViewerReport {
  std::vector<std::string> statuses;  // of the first session, in order
  std::vector<std::string> messages;  // of the first session
  bool sessionEndSeen = false;
  std::optional<long long> slowestUiMs;  // the largest gap between heartbeat ticks
  std::optional<long long> heldUiMs;     // the same less the waits for a processor
  std::optional<int> threads;
  std::optional<int> fds;
  std::optional<long long> framesLastSecond;  // pictures drawn in the first session's last second
  std::string reconnect;                      // "ok", "failed" or empty when never reported
  std::vector<std::string> sanitizerLines;    // the first lines of any sanitizer report
};

ViewerReport parseViewerStderr(const std::string& text);

// The first session showed "Connected." (the viewer's exit status depends on it).
bool firstSessionConnected(const ViewerReport& report);

// Every deviation from what the scenario allows, empty when the run is sound.
std::vector<std::string> checkReport(const Scenario& scenario, const ViewerReport& report);
