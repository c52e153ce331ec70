// The live-stream connection after REQ_LIVECLOSE: left for the viewer to close (keep) or closed
// by the DVR right after RSP_LIVECLOSE (drop), so a viewer's channel switch meets both kinds.
#include <gtest/gtest.h>

#include "protocol/byte_order.h"
#include "protocol/command_codes.h"
#include "scripted_viewer.h"

using namespace emutest;

namespace {
uint16_t closeLive(PreparedSession& session) {
  const auto reply = session.control->request(REQ_LIVECLOSE, {}, RSP_LIVECLOSE);
  return reply ? statusOf(*reply) : 0xFFFF;
}
}  // namespace

TEST(emulatorLiveClose, DropClosesTheLiveStreamAndTheSwitchGoesOn) {
  RunningEmulator dvr(RunningEmulator::configWith({"--live-close", "drop"}));
  auto session = prepareSession(dvr.port());
  ASSERT_TRUE(session.live);
  ASSERT_EQ(closeLive(session), 1);
  EXPECT_TRUE(session.live->closedByPeer(2000));
  // The control session stays, and the next live open serves a new live stream.
  const auto reopen = session.control->request(REQ_LIVEOPEN, {}, RSP_LIVEOPEN);
  ASSERT_TRUE(reopen);
  ASSERT_EQ(statusOf(*reopen), 1);
  ScriptedConnection live(readBe16(reopen->body.data() + 2));
  EXPECT_EQ(live.login("demo", "demo"), 1);
  session.control->request(REQ_LIVESTART, maskBody(1, 20), RSP_LIVESTART);
  live.send(REQ_LIVEFRAME, liveFrameRequest(0));
  const auto frame = live.receive();
  ASSERT_TRUE(frame);
  EXPECT_EQ(statusOf(*frame), 1);
}

TEST(emulatorLiveClose, KeptByDefaultDroppedOnCommandUnlessTheCloseFailed) {
  RunningEmulator dvr;
  auto session = prepareSession(dvr.port());
  ASSERT_TRUE(session.live);
  ASSERT_EQ(closeLive(session), 1);
  EXPECT_FALSE(session.live->closedByPeer(500));  // left for the viewer to close
  EXPECT_NE(dvr.command("live-close drop").find("ok"), std::string::npos);
  EXPECT_NE(dvr.command("stats").find("live-close drop"), std::string::npos);
  dvr.command("fail RSP_LIVECLOSE 0");
  ASSERT_EQ(closeLive(session), 0);
  EXPECT_FALSE(session.live->closedByPeer(500));
  ASSERT_EQ(closeLive(session), 1);
  EXPECT_TRUE(session.live->closedByPeer(2000));
  EXPECT_NE(dvr.command("live-close keep").find("ok"), std::string::npos);
  EXPECT_EQ(dvr.command("live-close sometimes").rfind("error", 0), 0u);
}
