// The reconnect policy against a simulated clock and a scripted random source: the waits, their
// jitter, the fresh start after a healthy session, and which endings are retried.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "session/reconnect_policy.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

class ReconnectPolicyTest : public ::testing::Test {
 protected:
  Clock::time_point now{seconds(1000)};
  double nextRandom = 0.5;  // the middle: no jitter
  CReconnectPolicy policy{[this] { return now; }, [this] { return nextRandom; }};

  std::optional<milliseconds> lose() { return policy.onSessionEnded(SessionEnd::LinkLost, 0); }
};

TEST_F(ReconnectPolicyTest, WaitsDoubleFromTheFirstUpToSixtyTimesIt) {
  std::vector<long long> waits;
  for (int i = 0; i < 9; ++i) {
    waits.push_back(policy.onSessionEnded(SessionEnd::ConnectFailed, 0).value().count());
    EXPECT_EQ(policy.attempt(), i + 1);
  }
  EXPECT_EQ(waits,
            (std::vector<long long>{1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000, 60000}));
  // A shorter first wait (tests) scales the whole sequence.
  CReconnectPolicy quick(
      {}, [] { return 0.5; }, milliseconds(100));
  waits.clear();
  for (int i = 0; i < 8; ++i)
    waits.push_back(quick.onSessionEnded(SessionEnd::ConnectTimeout, 0).value().count());
  EXPECT_EQ(waits, (std::vector<long long>{100, 200, 400, 800, 1600, 3200, 6000, 6000}));
}

TEST_F(ReconnectPolicyTest, JitterStaysWithinTwentyPercent) {
  nextRandom = 0.0;
  EXPECT_EQ(lose(), milliseconds(800));
  nextRandom = 0.999999;
  EXPECT_EQ(lose(), milliseconds(2400));
  nextRandom = 0.25;
  EXPECT_EQ(lose(), milliseconds(3600));
  // A random source out of range never takes the wait beyond its bounds.
  nextRandom = 7.0;
  EXPECT_EQ(lose(), milliseconds(9600));
  nextRandom = -3.0;
  EXPECT_EQ(lose(), milliseconds(12800));

  // The system's own random source: every wait of the long stretch in 48..72 s, and not all the
  // same.
  CReconnectPolicy real([this] { return now; }, {});
  for (int i = 0; i < 6; ++i) real.onSessionEnded(SessionEnd::LinkLost, 0);
  long long lowest = 1'000'000, highest = 0;
  for (int i = 0; i < 200; ++i) {
    const long long wait = real.onSessionEnded(SessionEnd::StreamLost, 0)->count();
    lowest = std::min(lowest, wait);
    highest = std::max(highest, wait);
  }
  EXPECT_GE(lowest, 48000);
  EXPECT_LE(highest, 72000);
  EXPECT_GT(highest - lowest, 5000);
}

TEST_F(ReconnectPolicyTest, AMinuteOfSessionOrAResetStartsTheWaitsAgain) {
  for (int i = 0; i < 4; ++i) lose();
  // A reconnect that held for 59 s doesn't count as healthy: the sequence goes on.
  policy.onConnected();
  now += seconds(59);
  EXPECT_EQ(lose(), milliseconds(16000));
  EXPECT_EQ(policy.attempt(), 5);
  // Attempts that never connected don't either, however long they took.
  now += seconds(120);
  EXPECT_EQ(lose(), milliseconds(32000));
  // A full minute does.
  policy.onConnected();
  now += seconds(60);
  EXPECT_EQ(lose(), milliseconds(1000));
  EXPECT_EQ(policy.attempt(), 1);
  EXPECT_EQ(lose(), milliseconds(2000));
  // So does the user taking over.
  lose();
  policy.reset();
  EXPECT_EQ(policy.attempt(), 0);
  EXPECT_EQ(lose(), milliseconds(1000));
}

TEST_F(ReconnectPolicyTest, OnlyEndingsAnotherTryMayMendAreRetried) {
  for (const SessionEnd reason :
       {SessionEnd::LinkLost, SessionEnd::StreamLost, SessionEnd::ConnectFailed,
        SessionEnd::ConnectTimeout, SessionEnd::PreparationFailed}) {
    EXPECT_TRUE(CReconnectPolicy::retryable(reason, 0)) << static_cast<int>(reason);
  }
  EXPECT_FALSE(CReconnectPolicy::retryable(SessionEnd::UserDisconnect, 0));
  // Refusals that pass: too many users, the same user or an administrator logged in, local
  // operation, setup.
  for (const int16_t status : {2, 2049, 2050, 2054, 2055}) {
    EXPECT_TRUE(CReconnectPolicy::retryable(SessionEnd::LoginRefused, status)) << status;
  }
  // The account, the password, and refusals nobody knows to pass.
  for (const int16_t status : {2051, 2052, 2053, 0, 1, 3, 2048, 2056, -1}) {
    EXPECT_FALSE(CReconnectPolicy::retryable(SessionEnd::LoginRefused, status)) << status;
  }
}

TEST_F(ReconnectPolicyTest, ANeverRetriedEndingGivesNoWaitAndKeepsTheCount) {
  lose();
  lose();
  EXPECT_EQ(policy.onSessionEnded(SessionEnd::LoginRefused, 2052), std::nullopt);
  EXPECT_EQ(policy.onSessionEnded(SessionEnd::UserDisconnect, 0), std::nullopt);
  EXPECT_EQ(policy.attempt(), 2);
  EXPECT_EQ(policy.onSessionEnded(SessionEnd::LoginRefused, 2050), milliseconds(4000));
}

}  // namespace
