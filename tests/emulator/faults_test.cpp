// Each armed fault does what it says, once, on the kind of connection it was armed for.
#include <gtest/gtest.h>

#include <algorithm>

#include "protocol/byte_order.h"
#include "protocol/command_codes.h"
#include "reply_bodies.h"
#include "scripted_viewer.h"

using namespace emutest;

namespace {
PreparedSession startedSession(RunningEmulator& dvr) {
  auto session = prepareSession(dvr.port());
  if (session.live) session.control->request(REQ_LIVESTART, maskBody(1, 20), RSP_LIVESTART);
  return session;
}
}  // namespace

TEST(emulatorFaults, CloseAfterCountsMessages) {
  RunningEmulator dvr;
  ScriptedConnection viewer(dvr.port());
  ASSERT_EQ(viewer.login("demo", "demo"), 1);
  dvr.command("fault control close-after 2");
  EXPECT_TRUE(viewer.request(REQ_INFOPRODUCTINFO, {}, RSP_INFOPRODUCTINFO));
  EXPECT_TRUE(viewer.request(REQ_INFOPRODUCTINFO, {}, RSP_INFOPRODUCTINFO));
  viewer.send(REQ_INFOPRODUCTINFO);
  EXPECT_TRUE(viewer.closedByPeer());
}

TEST(emulatorFaults, CutBodySendsTheHeaderAndHalfTheBody) {
  RunningEmulator dvr;
  ScriptedConnection viewer(dvr.port());
  ASSERT_EQ(viewer.login("demo", "demo"), 1);
  dvr.command("fault control cut-body");
  viewer.send(REQ_INFOPRODUCTINFO);
  const auto bytes = viewer.receiveRaw(17 + 50, 1000);
  ASSERT_GE(bytes.size(), 17u);
  EXPECT_EQ(readBe32(bytes.data() + 5), 50u);
  EXPECT_EQ(bytes.size(), 17u + 25u);
  EXPECT_TRUE(viewer.closedByPeer());
}

TEST(emulatorFaults, BadMagicAndHugeLengthHeaders) {
  RunningEmulator dvr;
  ScriptedConnection viewer(dvr.port());
  ASSERT_EQ(viewer.login("demo", "demo"), 1);
  dvr.command("fault control bad-magic");
  viewer.send(REQ_LIVESETUP, maskBody(0xFFFFFFFF, 18));
  auto bytes = viewer.receiveRaw(17 + 20);
  ASSERT_EQ(bytes.size(), 37u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "ZEMX");
  EXPECT_EQ(readBe32(bytes.data() + 9), RSP_LIVESETUP);

  dvr.command("fault control huge-length");
  viewer.send(REQ_LIVESETUP, maskBody(0xFFFFFFFF, 18));
  bytes = viewer.receiveRaw(17 + 20);
  ASSERT_EQ(bytes.size(), 37u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "ZEMO");
  EXPECT_EQ(readBe32(bytes.data() + 5), 0xFFFFFFFFu);
}

TEST(emulatorFaults, OversizeFramesAndAudioBlocksOverrunTheViewersBuffers) {
  RunningEmulator dvr;
  auto session = startedSession(dvr);
  ASSERT_TRUE(session.live);
  dvr.command("fault live oversize");
  session.live->send(REQ_LIVEFRAME, liveFrameRequest(0));
  const auto frame = session.live->receive();
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->body.size(), 811008u + 1u);
  EXPECT_EQ(frame->body[6], 0x01);  // still a real frame in front
}

TEST(emulatorFaults, FramesWithoutMarkerOrWithChannel16) {
  RunningEmulator dvr;
  auto session = startedSession(dvr);
  ASSERT_TRUE(session.live);
  dvr.command("fault live no-marker");
  session.live->send(REQ_LIVEFRAME, liveFrameRequest(0));
  const auto unmarked = session.live->receive();
  ASSERT_TRUE(unmarked);
  EXPECT_EQ(statusOf(*unmarked), 1);
  EXPECT_EQ(std::count(unmarked->body.begin() + 6, unmarked->body.end(), 0x01), 0);

  dvr.command("fault live channel16");
  session.live->send(REQ_LIVEFRAME, liveFrameRequest(0));
  const auto channel16 = session.live->receive();
  ASSERT_TRUE(channel16);
  EXPECT_EQ(channel16->body[6], 0x01);
  EXPECT_EQ(channel16->body[7], 16);

  session.live->send(REQ_LIVEFRAME, liveFrameRequest(0));  // faults are used up
  const auto normal = session.live->receive();
  ASSERT_TRUE(normal);
  EXPECT_EQ(normal->body[7], 0);
}

TEST(emulatorFaults, FaultsStayWithTheirConnectionKind) {
  RunningEmulator dvr;
  auto session = startedSession(dvr);
  ASSERT_TRUE(session.live);
  dvr.command("fault audio bad-magic");
  const auto reply = session.control->request(REQ_INFOPRODUCTINFO, {}, RSP_INFOPRODUCTINFO);
  ASSERT_TRUE(reply);  // the control connection is not affected
  session.live->send(REQ_LIVEFRAME, liveFrameRequest(0));
  EXPECT_TRUE(session.live->receive().has_value());
  EXPECT_NE(dvr.command("stats").find("fault audio bad-magic"), std::string::npos);
}

TEST(emulatorFaults, DropClosesConnectionsOfAKind) {
  RunningEmulator dvr;
  auto session = startedSession(dvr);
  ASSERT_TRUE(session.live);
  EXPECT_NE(dvr.command("drop live").find("dropped 1"), std::string::npos);
  EXPECT_TRUE(session.live->closedByPeer());
  EXPECT_TRUE(session.control->request(REQ_INFOPRODUCTINFO, {}, RSP_INFOPRODUCTINFO).has_value());
  dvr.command("drop session 1");
  EXPECT_TRUE(session.control->closedByPeer());
}
