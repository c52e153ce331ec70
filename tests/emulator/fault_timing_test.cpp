// Faults in time: a stall delays and keeps the order, a drop discards, and a connection that goes
// silent for good stays open.
#include <gtest/gtest.h>

#include <chrono>

#include "protocol/command_codes.h"
#include "scripted_viewer.h"

using namespace emutest;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {
const std::vector<uint8_t> kQosBody{0, 0, 0xFF, 0xFF, 130};

// Reads for a while, answering alive checks, so what was in flight is gone.
void drain(ScriptedConnection& viewer, std::chrono::milliseconds time) {
  const auto until = Clock::now() + time;
  while (Clock::now() < until) {
    const auto message = viewer.receive(50);
    if (message && message->header.command == REQ_ALIVECHECK)
      viewer.send(RSP_ALIVECHECK, std::vector<uint8_t>(6, 0));
  }
}
}  // namespace

TEST(emulatorFaultTiming, StallDelaysTheMessageAndWhatFollowsInOrder) {
  RunningEmulator dvr;
  ScriptedConnection viewer(dvr.port());
  ASSERT_EQ(viewer.login("demo", "demo"), 1);
  dvr.command("fault control stall 1");
  const auto sent = Clock::now();
  viewer.send(REQ_INFOPRODUCTINFO);
  viewer.send(REQ_LIVESETUP, maskBody(0xFFFFFFFF, 18));
  viewer.send(REQ_QOSRESOLUTION, kQosBody);
  EXPECT_FALSE(viewer.receive(700).has_value());
  for (const uint32_t code : {RSP_INFOPRODUCTINFO, RSP_LIVESETUP, RSP_QOSRESOLUTION}) {
    const auto reply = viewer.receive(2000);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->header.command, code);
  }
  EXPECT_GE(Clock::now() - sent, 950ms);
  EXPECT_TRUE(viewer.request(REQ_QOSRESOLUTION, kQosBody, RSP_QOSRESOLUTION).has_value());
}

TEST(emulatorFaultTiming, AStalledFrameArrivesLateForAViewerThatPullsOneAtATime) {
  RunningEmulator dvr;
  auto session = prepareSession(dvr.port());
  ASSERT_TRUE(session.live);
  session.control->request(REQ_LIVESTART, maskBody(1, 20), RSP_LIVESTART);
  dvr.command("fault live stall 1");
  session.live->send(REQ_LIVEFRAME, liveFrameRequest(0));
  EXPECT_FALSE(session.live->receive(600).has_value());
  const auto late = session.live->receive(2000);
  ASSERT_TRUE(late);
  EXPECT_EQ(statusOf(*late), 1);
  EXPECT_EQ(late->body[6], 0x01);
  session.live->send(REQ_LIVEFRAME, liveFrameRequest(0));  // the stream goes on
  EXPECT_TRUE(session.live->receive(1000).has_value());
}

TEST(emulatorFaultTiming, DropDiscardsTheNextMessagesOnly) {
  RunningEmulator dvr;
  ScriptedConnection viewer(dvr.port());
  ASSERT_EQ(viewer.login("demo", "demo"), 1);
  EXPECT_NE(dvr.command("fault control drop 2").find("ok"), std::string::npos);
  viewer.send(REQ_INFOPRODUCTINFO);
  viewer.send(REQ_LIVESETUP, maskBody(0xFFFFFFFF, 18));
  viewer.send(REQ_QOSRESOLUTION, kQosBody);
  const auto third = viewer.receive(1500);
  ASSERT_TRUE(third);
  EXPECT_EQ(third->header.command, RSP_QOSRESOLUTION);

  dvr.command("fault control drop");  // one message by default
  viewer.send(REQ_INFOPRODUCTINFO);
  EXPECT_FALSE(viewer.receive(500).has_value());
  EXPECT_TRUE(viewer.request(REQ_INFOPRODUCTINFO, {}, RSP_INFOPRODUCTINFO).has_value());
  EXPECT_EQ(dvr.command("fault control drop 0").rfind("error", 0), 0u);
}

TEST(emulatorFaultTiming, StallForGoodAndSilentKeepTheConnectionOpenAndQuiet) {
  auto config = RunningEmulator::testConfig();
  config.aliveIntervalSeconds = 0.2;
  config.aliveTimeoutSeconds = 0.6;
  RunningEmulator dvr(config);
  ScriptedConnection stalled(dvr.port());
  ScriptedConnection silenced(dvr.port());
  ASSERT_EQ(stalled.login("demo", "demo"), 1);
  ASSERT_EQ(silenced.login("demo", "demo"), 1);
  dvr.command("fault control stall 0 session 1");
  stalled.send(REQ_INFOPRODUCTINFO);
  EXPECT_NE(dvr.command("silent session 2").find("ok"), std::string::npos);
  drain(stalled, 300ms);
  drain(silenced, 300ms);
  // Longer than the alive time-out: no alive check, no reply, and still no close.
  for (ScriptedConnection* viewer : {&stalled, &silenced}) {
    viewer->send(REQ_INFOPRODUCTINFO);
    EXPECT_FALSE(viewer->receive(1200).has_value());
    EXPECT_FALSE(viewer->closedByPeer(100));
  }
  EXPECT_NE(dvr.command("stats").find("sessions 2"), std::string::npos);
}
