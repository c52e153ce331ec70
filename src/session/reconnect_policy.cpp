#include "session/reconnect_policy.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

namespace {
// Login refusals that pass by themselves, so that a later try gets in.
bool passingRefusal(int16_t status) {
  switch (status) {
    case 2:     // the same user still logged in: a session the DVR hasn't noticed was lost
    case 2049:  // an administrator is logged in
    case 2050:  // all the DVR's logins are taken
    case 2054:  // the DVR is being operated locally
    case 2055:  // a user is in the DVR's setup
      return true;
    default:  // the account or its password (2051, 2052), and whatever isn't known to pass
      return false;
  }
}
}  // namespace

CReconnectPolicy::CReconnectPolicy(Clock clock, Random random, std::chrono::milliseconds firstWait)
    : clock_(std::move(clock)), random_(std::move(random)), firstWait_(firstWait) {
  if (!clock_) clock_ = [] { return std::chrono::steady_clock::now(); };
  if (!random_) {
    auto engine = std::make_shared<std::mt19937>(std::random_device{}());
    random_ = [engine] { return std::uniform_real_distribution<double>(0.0, 1.0)(*engine); };
  }
}

bool CReconnectPolicy::retryable(SessionEnd reason, int16_t loginStatus) {
  switch (reason) {
    case SessionEnd::ConnectFailed:
    case SessionEnd::ConnectTimeout:
    case SessionEnd::PreparationFailed:
    case SessionEnd::LinkLost:
    case SessionEnd::StreamLost:
      return true;
    case SessionEnd::LoginRefused:
      return passingRefusal(loginStatus);
    case SessionEnd::UserDisconnect:
      return false;
  }
  return false;
}

std::chrono::milliseconds CReconnectPolicy::baseWait(int n) const {
  // 1, 2, 4, 8, 16, 32, then 60 times the first wait.
  const int doublings = std::clamp(n - 1, 0, 6);
  return std::min(firstWait_ * (1 << doublings), firstWait_ * 60);
}

void CReconnectPolicy::onConnected() {
  connectedAt_ = clock_();
}

std::optional<std::chrono::milliseconds> CReconnectPolicy::onSessionEnded(SessionEnd reason,
                                                                          int16_t loginStatus) {
  const bool healthy = connectedAt_ && clock_() - *connectedAt_ >= kHealthySession;
  connectedAt_.reset();
  if (!retryable(reason, loginStatus)) return std::nullopt;
  if (healthy) attempts_ = 0;
  if (attempts_ < 1000000) ++attempts_;  // the count shown never wraps
  const double factor = 1.0 + kJitter * (2.0 * std::clamp(random_(), 0.0, 1.0) - 1.0);
  const double wait = static_cast<double>(baseWait(attempts_).count()) * factor;
  return std::chrono::milliseconds(std::llround(wait));
}

void CReconnectPolicy::reset() {
  attempts_ = 0;
  connectedAt_.reset();
}
