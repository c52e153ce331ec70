#include "outcome_check.h"

#include <algorithm>
#include <array>
#include <sstream>

namespace {
bool startsWith(const std::string& s, const std::string& prefix) {
  return s.rfind(prefix, 0) == 0;
}
bool endsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::optional<long long> numberAfter(const std::string& line, const std::string& key) {
  const size_t at = line.find(key);
  if (at == std::string::npos) return std::nullopt;
  try {
    return std::stoll(line.substr(at + key.size()));
  } catch (...) {
    return std::nullopt;
  }
}

// A notice's text: power off and entering setup stay after the link goes.
bool isKeptNotice(const std::string& s) {
  return endsWith(s, " Power off") || endsWith(s, " entered into DVR Setup");
}
bool isNotice(const std::string& s) {
  return isKeptNotice(s) || endsWith(s, " get out of DVR Setup");
}

bool isKnownStatus(const std::string& s) {
  static constexpr std::array<const char*, 6> kEndings = {
      " Connected.",          " Disconnected.",       " Connecting...",
      " Connecting failure.", " Connecting timeout.", " Connection falure."};
  if (s.empty() || isNotice(s)) return true;
  // A channel request that failed or got no answer names the channel still shown.
  if (startsWith(s, "Request failure. [Channel ") || startsWith(s, "Request timeout. [Channel "))
    return true;
  return std::any_of(kEndings.begin(), kEndings.end(),
                     [&](const char* e) { return endsWith(s, e); });
}
}  // namespace

ViewerReport parseViewerStderr(const std::string& text) {
  ViewerReport report;
  std::istringstream in(text);
  std::string line;
  static constexpr std::array<const char*, 6> kSanitizer = {"ERROR: AddressSanitizer",
                                                            "ERROR: LeakSanitizer",
                                                            "runtime error:",
                                                            "WARNING: ThreadSanitizer",
                                                            "ERROR: UndefinedBehaviorSanitizer",
                                                            "SUMMARY: "};
  while (std::getline(in, line)) {
    for (const char* marker : kSanitizer) {
      if (line.find(marker) != std::string::npos && report.sanitizerLines.size() < 5) {
        report.sanitizerLines.push_back(line);
        break;
      }
    }
    if (startsWith(line, "status: ") || line == "status:") {
      if (!report.sessionEndSeen) report.statuses.push_back(line.size() > 8 ? line.substr(8) : "");
    } else if (startsWith(line, "message: ")) {
      if (!report.sessionEndSeen) report.messages.push_back(line.substr(9));
    } else if (startsWith(line, "diagnostics: frames-last-second=")) {
      report.framesLastSecond = numberAfter(line, "frames-last-second=");
    } else if (line == "diagnostics: session-end") {
      report.sessionEndSeen = true;
    } else if (startsWith(line, "diagnostics: slowest-ui-ms=")) {
      report.slowestUiMs = numberAfter(line, "slowest-ui-ms=");
      report.heldUiMs = numberAfter(line, "held-ui-ms=");
    } else if (startsWith(line, "diagnostics: threads=")) {
      const auto threads = numberAfter(line, "threads=");
      const auto fds = numberAfter(line, "fds=");
      if (threads) report.threads = static_cast<int>(*threads);
      if (fds) report.fds = static_cast<int>(*fds);
    } else if (startsWith(line, "diagnostics: reconnect=")) {
      report.reconnect = line.substr(23);
    }
  }
  return report;
}

bool firstSessionConnected(const ViewerReport& report) {
  return std::any_of(report.statuses.begin(), report.statuses.end(),
                     [](const std::string& s) { return endsWith(s, " Connected."); });
}

std::vector<std::string> checkReport(const Scenario& scenario, const ViewerReport& report) {
  std::vector<std::string> failures;
  for (const auto& line : report.sanitizerLines) failures.push_back("sanitizer: " + line);
  // The viewer answers for the time it held its UI thread, not for a machine without a free core.
  if (!report.heldUiMs) {
    failures.push_back("no heartbeat figure");
  } else if (*report.heldUiMs >= 100) {
    failures.push_back("UI thread held up " + std::to_string(*report.heldUiMs) + " ms");
  }
  if (!report.threads || !report.fds) {
    failures.push_back("no thread and descriptor count");
  } else if (*report.threads != 0 || *report.fds != 0) {
    failures.push_back("left over: threads=" + std::to_string(*report.threads) +
                       " fds=" + std::to_string(*report.fds));
  }
  if (report.reconnect != "ok") {
    failures.push_back("reconnect=" + (report.reconnect.empty() ? "missing" : report.reconnect));
  }
  if (!report.sessionEndSeen) failures.push_back("the first session's end was never reported");

  const std::string last = report.statuses.empty() ? std::string() : report.statuses.back();
  auto hasMessage = [&](const std::string& text) {
    return std::find(report.messages.begin(), report.messages.end(), text) != report.messages.end();
  };
  if (!isKnownStatus(last)) failures.push_back("unknown status '" + last + "'");
  switch (scenario.expect) {
    case Scenario::Expect::Connected:
      // A shown channel clears the status line.
      if (!last.empty() && !endsWith(last, " Connected.") && !isNotice(last))
        failures.push_back("expected a running session, status '" + last + "'");
      // A shown channel whose pictures stopped is a frozen picture, whatever the status says.
      if (last.empty() && report.framesLastSecond.value_or(0) == 0)
        failures.push_back("no picture drawn in the session's last second");
      break;
    case Scenario::Expect::Refused:
      if (!last.empty()) failures.push_back("refused login left status '" + last + "'");
      if (scenario.refusalMessage.empty() ? !report.messages.empty()
                                          : !hasMessage(scenario.refusalMessage)) {
        failures.push_back("refusal message missing or wrong (wanted '" + scenario.refusalMessage +
                           "', got " + std::to_string(report.messages.size()) + " message(s))");
      }
      break;
    case Scenario::Expect::LinkLost:
      if (!endsWith(last, " Disconnected.") && !isKeptNotice(last))
        failures.push_back("expected a lost link, status '" + last + "'");
      break;
    case Scenario::Expect::ErrorMessage:
      if (!hasMessage(scenario.errorMessage))
        failures.push_back("message '" + scenario.errorMessage + "' missing");
      break;
    case Scenario::Expect::Any:
      break;
  }
  return failures;
}
