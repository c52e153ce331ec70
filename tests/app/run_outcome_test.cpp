// The exit status and the one line of a run's outcome.
#include <gtest/gtest.h>

#include "app/run_outcome.h"

namespace {

TEST(RunOutcome, NothingFailedIsStatus0WithoutALine) {
  const CRunOutcome outcome;
  EXPECT_EQ(outcome.exitStatus(), 0);
  EXPECT_TRUE(outcome.reasonLine().isEmpty());
}

TEST(RunOutcome, NotConnectedWinsOverOutputsAndKeepsTheFirstReason) {
  CRunOutcome outcome;
  outcome.outputFailed("--screenshot", "/x.png", "No space left on device");
  EXPECT_EQ(outcome.exitStatus(), 4);
  outcome.notConnected("Invaild password. Please check it again.");
  outcome.notConnected("no \"Connected.\" within 3 s");
  EXPECT_EQ(outcome.exitStatus(), 3);
  EXPECT_EQ(outcome.reasonLine(), "not connected: Invaild password. Please check it again.");
  CRunOutcome silent;
  silent.notConnected("");
  EXPECT_EQ(silent.reasonLine(), "not connected: the connection ended");
}

TEST(RunOutcome, EveryFailedOutputOnOneLine) {
  CRunOutcome outcome;
  outcome.outputFailed("--record", "/a/b.mkv", "Can't record /a/b.mkv:\nNo such file");
  outcome.outputFailed("--record", "/a/b.mkv", "a second report of the same output");
  outcome.outputFailed("--audio-out", "/dev/full", "cannot write the file: No space left");
  EXPECT_EQ(outcome.exitStatus(), 4);
  EXPECT_TRUE(outcome.outputFailedFor("--record"));
  EXPECT_FALSE(outcome.outputFailedFor("--screenshot"));
  EXPECT_EQ(outcome.reasonLine(),
            "not written in full: --record /a/b.mkv: Can't record /a/b.mkv: No such file; "
            "--audio-out /dev/full: cannot write the file: No space left");
}

}  // namespace
