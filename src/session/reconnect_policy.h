#pragma once
// When to connect to a DVR again after a session ended by itself: waits of 1, 2, 4, 8, 16 and
// 32 s, then every 60 s, each stretched or shortened at random by up to 20 % so that viewers
// that lost the same DVR don't all knock at once. A session that had run for a minute starts
// the sequence again from the first wait.
//
// Endings that another try may mend are retried: a lost link or live stream (a DVR power-off
// ends in one), a failed or timed-out connect, a failed preparation step, and login refusals
// that pass (too many users, the same user still logged in, an administrator logged in, the
// DVR operated locally or in setup). A refusal of the account or its password, and every
// refusal not known to pass, is never retried: repeating it could lock the account.
//
// Pure logic without Qt: the clock and the random source are injected. One thread.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include "session/session_listener.h"

class CReconnectPolicy {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  // A number in [0, 1), uniformly distributed.
  using Random = std::function<double()>;

  static constexpr std::chrono::milliseconds kFirstWait{1000};
  static constexpr std::chrono::milliseconds kLongestWait{60000};
  static constexpr double kJitter = 0.2;
  // A session that lasted this long counts as healthy: the waits start again from the first.
  static constexpr std::chrono::seconds kHealthySession{60};

  // Empty clock or random: the steady clock, a generator seeded from the system.
  // firstWait scales the whole sequence (tests shorten it; the longest wait stays 60 x it).
  explicit CReconnectPolicy(Clock clock = {}, Random random = {},
                            std::chrono::milliseconds firstWait = kFirstWait);

  // A session reached "Connected."; its length counts from here.
  void onConnected();
  // A session (or an attempt at one) ended. loginStatus is the refused login's status for
  // SessionEnd::LoginRefused and ignored otherwise. The wait before the next attempt, or
  // nothing when this ending is never retried (a user's disconnect included).
  std::optional<std::chrono::milliseconds> onSessionEnded(SessionEnd reason, int16_t loginStatus);
  // Back to the first wait (the user took over).
  void reset();
  // The number of the attempt the last wait leads to, counted from 1; 0 before any wait.
  int attempt() const { return attempts_; }

  static bool retryable(SessionEnd reason, int16_t loginStatus);
  // The wait before attempt n (from 1) without jitter.
  std::chrono::milliseconds baseWait(int n) const;

 private:
  Clock clock_;
  Random random_;
  std::chrono::milliseconds firstWait_;
  int attempts_ = 0;
  std::optional<std::chrono::steady_clock::time_point> connectedAt_;
};
