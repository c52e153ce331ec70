// The fault campaign's verdicts: a run is only passed when the viewer's report is sound, and the
// same seed always draws the same run.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "outcome_check.h"
#include "scenario.h"

namespace {

// A report of a sound run that ended in `status`.
std::string soundRun(const std::string& status, const std::string& extra = "") {
  return "status: 127.0.0.1 Connecting...\nstatus: " + status + "\n" + extra +
         "diagnostics: frames-last-second=5\ndiagnostics: session-end\n"
         "status: 127.0.0.1 Connected.\ndiagnostics: reconnect=ok\n"
         "diagnostics: slowest-ui-ms=41 held-ui-ms=30\ndiagnostics: threads=0 fds=0\n";
}

Scenario expecting(Scenario::Expect expect) {
  Scenario s;
  s.expect = expect;
  return s;
}

TEST(CampaignVerdict, SoundRunsPassAndEveryDeviationIsCaught) {
  const Scenario running = expecting(Scenario::Expect::Connected);
  EXPECT_TRUE(checkReport(running, parseViewerStderr(soundRun("127.0.0.1 Connected."))).empty());
  EXPECT_TRUE(
      checkReport(running, parseViewerStderr(soundRun("user get out of DVR Setup"))).empty());
  EXPECT_TRUE(checkReport(running, parseViewerStderr(soundRun(""))).empty());
  // A shown channel (empty status) whose pictures stopped is frozen.
  std::string frozen = soundRun("");
  frozen.replace(frozen.find("second=5"), 8, "second=0");
  EXPECT_FALSE(checkReport(running, parseViewerStderr(frozen)).empty());
  // A long gap spent waiting for a processor is the machine's, not the viewer's.
  std::string starved = soundRun("127.0.0.1 Connected.");
  starved.replace(starved.find("slowest-ui-ms=41"), 16, "slowest-ui-ms=400");
  EXPECT_TRUE(checkReport(running, parseViewerStderr(starved)).empty());
  // Only the first session counts: the reconnect's "Connected." doesn't hide a lost link.
  EXPECT_FALSE(
      checkReport(running, parseViewerStderr(soundRun("127.0.0.1 Disconnected."))).empty());

  std::string text = soundRun("127.0.0.1 Connected.");
  for (const auto& [from, to] : std::initializer_list<std::pair<std::string, std::string>>{
           {"held-ui-ms=30", "held-ui-ms=100"},
           {"threads=0 fds=0", "threads=1 fds=0"},
           {"threads=0 fds=0", "threads=0 fds=2"},
           {"reconnect=ok", "reconnect=failed"},
           {"diagnostics: session-end\n", ""},
           {"status: 127.0.0.1 Connecting...", "==1==ERROR: AddressSanitizer: heap-use-after-free"},
           {"status: 127.0.0.1 Connecting...", "x.cpp:3:1: runtime error: shift exponent"},
       }) {
    std::string broken = text;
    broken.replace(broken.find(from), from.size(), to);
    EXPECT_FALSE(checkReport(running, parseViewerStderr(broken)).empty()) << to;
  }
  EXPECT_FALSE(checkReport(running, parseViewerStderr("")).empty());
}

TEST(CampaignVerdict, RefusalsLinkLossesAndErrorBoxes) {
  Scenario refused = expecting(Scenario::Expect::Refused);
  refused.refusalMessage = "Cannot log on to DVR with current account.";
  const std::string box = "message: Cannot log on to DVR with current account.\n";
  EXPECT_TRUE(checkReport(refused, parseViewerStderr(soundRun("", box))).empty());
  EXPECT_FALSE(checkReport(refused, parseViewerStderr(soundRun(""))).empty());
  EXPECT_FALSE(
      checkReport(refused, parseViewerStderr(soundRun("127.0.0.1 Connected.", box))).empty());
  refused.refusalMessage.clear();  // 2053 has no box
  EXPECT_TRUE(checkReport(refused, parseViewerStderr(soundRun(""))).empty());
  EXPECT_FALSE(checkReport(refused, parseViewerStderr(soundRun("", box))).empty());

  const Scenario lost = expecting(Scenario::Expect::LinkLost);
  EXPECT_TRUE(checkReport(lost, parseViewerStderr(soundRun("127.0.0.1 Disconnected."))).empty());
  EXPECT_TRUE(checkReport(lost, parseViewerStderr(soundRun("127.0.0.1 Power off"))).empty());
  EXPECT_FALSE(checkReport(lost, parseViewerStderr(soundRun("127.0.0.1 Connected."))).empty());

  Scenario failed = expecting(Scenario::Expect::ErrorMessage);
  failed.errorMessage = "Error : RSP_PTZACTIVECAM";
  EXPECT_TRUE(
      checkReport(failed, parseViewerStderr(soundRun("127.0.0.1 Connecting...",
                                                     "message: Error : RSP_PTZACTIVECAM\n")))
          .empty());
  EXPECT_FALSE(checkReport(failed, parseViewerStderr(soundRun("127.0.0.1 Connecting..."))).empty());
  EXPECT_TRUE(checkReport(expecting(Scenario::Expect::Any),
                          parseViewerStderr(soundRun("Request failure. [Channel 3]")))
                  .empty());
  // Any status must still be one the viewer can show.
  EXPECT_FALSE(checkReport(expecting(Scenario::Expect::Any),
                           parseViewerStderr(soundRun("127.0.0.1 Half connected")))
                   .empty());
}

// The viewer's exit status follows the first session: 3 when it never showed "Connected.", even
// when the second Connect (after the session's end) did.
TEST(CampaignVerdict, FirstSessionConnectedDecidesTheExitStatus) {
  EXPECT_TRUE(firstSessionConnected(parseViewerStderr(soundRun("127.0.0.1 Connected."))));
  EXPECT_FALSE(firstSessionConnected(parseViewerStderr(soundRun(""))));
  EXPECT_FALSE(firstSessionConnected(parseViewerStderr(soundRun("127.0.0.1 Connecting failure."))));
}

TEST(CampaignScenario, SameSeedSameRunAndEveryKindDrawn) {
  std::set<std::string> kinds;
  for (uint64_t seed = 0; seed < 2000; ++seed) {
    EXPECT_EQ(describe(drawScenario(seed)), describe(drawScenario(seed)));
    for (const auto& k : drawScenario(seed).kinds) kinds.insert(k.substr(0, k.find('-')));
  }
  for (const char* k : {"drop", "bad", "oversize", "huge", "cut", "stall", "refuse", "fail",
                        "notice", "busy", "audio", "silent", "none"})
    EXPECT_TRUE(kinds.count(k)) << k;
}

}  // namespace
