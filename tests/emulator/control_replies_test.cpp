// Every control reply at the offsets the viewer reads, in the order the viewer asks.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "protocol/byte_order.h"
#include "protocol/command_codes.h"
#include "scripted_viewer.h"

using namespace emutest;

namespace {
std::string textAt(const std::vector<uint8_t>& body, size_t offset) {
  return std::string(reinterpret_cast<const char*>(body.data() + offset));
}
std::vector<uint8_t> ptzBody(const std::string& user, const std::string& password, uint8_t channel,
                             uint8_t code, uint8_t value) {
  std::vector<uint8_t> body(67, 0);
  std::memcpy(body.data(), user.data(), user.size());
  std::memcpy(body.data() + 32, password.data(), password.size());
  body[64] = channel;
  body[65] = code;
  body[66] = value;
  return body;
}
}  // namespace

TEST(emulatorControl, PreparationRepliesCarryTheFieldsTheViewerReads) {
  auto config = RunningEmulator::testConfig();
  config.model = "ZTD4X3";
  config.videoStandard = 2;
  config.channelCount = 6;
  config.ptzMask = 0x5;
  config.disabledMaskA = 0xFFC0;
  config.disabledMaskB = 0x0100;
  config.ptzTrailerRows = 3;
  config.ptzTrailerColumns = 5;
  RunningEmulator dvr(config);
  ScriptedConnection viewer(dvr.port());
  ASSERT_EQ(viewer.login("demo", "demo"), 1);

  const auto info = viewer.request(REQ_INFOPRODUCTINFO, {}, RSP_INFOPRODUCTINFO);
  ASSERT_TRUE(info);
  ASSERT_EQ(info->body.size(), 50u);
  EXPECT_EQ(statusOf(*info), 1);
  EXPECT_EQ(textAt(info->body, 10), "ZTD4X3");
  EXPECT_EQ(info->body[18], 2);

  const auto cams = viewer.request(REQ_PTZACTIVECAM, {}, RSP_PTZACTIVECAM);
  ASSERT_TRUE(cams);
  ASSERT_EQ(cams->body.size(), 81u + 15u);
  EXPECT_EQ(statusOf(*cams), 1);
  EXPECT_EQ(readBe32(cams->body.data() + 67), 0x0100u);
  EXPECT_EQ(readBe32(cams->body.data() + 71), 0x5u);
  EXPECT_EQ(readBe32(cams->body.data() + 75), 0xFFC0u);
  EXPECT_EQ(cams->body[79], 3);
  EXPECT_EQ(cams->body[80], 5);

  std::vector<uint8_t> configSet(15, 0);
  configSet[5] = 1;
  const auto set = viewer.request(REQ_INFOCONFIGSET, configSet, RSP_INFOCONFIGSET);
  ASSERT_TRUE(set);
  EXPECT_LE(set->body.size(), 24u);
  EXPECT_EQ(statusOf(*set), 1);

  const auto qos = viewer.request(REQ_QOSRESOLUTION, {0, 0, 0xFF, 0xFF, 130}, RSP_QOSRESOLUTION);
  ASSERT_TRUE(qos);
  EXPECT_EQ(qos->body.size(), 7u);
  EXPECT_EQ(statusOf(*qos), 1);

  const auto open = viewer.request(REQ_LIVEOPEN, {}, RSP_LIVEOPEN);
  ASSERT_TRUE(open);
  ASSERT_GE(open->body.size(), 4u);
  EXPECT_EQ(statusOf(*open), 1);
  const uint16_t livePort = readBe16(open->body.data() + 2);
  EXPECT_NE(livePort, 0);
  EXPECT_NE(livePort, dvr.port());
  ScriptedConnection live(livePort);
  EXPECT_EQ(live.login("demo", "demo"), 1);

  const auto setup = viewer.request(REQ_LIVESETUP, maskBody(0xFFFFFFFF, 18), RSP_LIVESETUP);
  ASSERT_TRUE(setup);
  EXPECT_EQ(setup->body.size(), 20u);
  EXPECT_EQ(statusOf(*setup), 1);

  const auto start = viewer.request(REQ_LIVESTART, maskBody(1u << 2, 20), RSP_LIVESTART);
  ASSERT_TRUE(start);
  EXPECT_LE(start->body.size(), 22u);
  EXPECT_EQ(statusOf(*start), 1);
  EXPECT_EQ(readBe32(start->body.data() + 2), 1u << 2);

  // A channel beyond the enabled ones starts nothing.
  const auto none = viewer.request(REQ_LIVESTART, maskBody(1u << 9, 20), RSP_LIVESTART);
  ASSERT_TRUE(none);
  EXPECT_NE(statusOf(*none), 1);

  const auto close = viewer.request(REQ_LIVECLOSE, {}, RSP_LIVECLOSE);
  ASSERT_TRUE(close);
  EXPECT_EQ(close->body.size(), 2u);
  EXPECT_EQ(statusOf(*close), 1);
  EXPECT_FALSE(live.closedByPeer(300));  // the viewer closes the live stream itself

  const auto reopen = viewer.request(REQ_LIVEOPEN, {}, RSP_LIVEOPEN);
  ASSERT_TRUE(reopen);
  EXPECT_NE(readBe16(reopen->body.data() + 2), 0);

  const auto bye = viewer.request(REQ_DISCONNECT, {}, RSP_DISCONNECT);
  ASSERT_TRUE(bye);
  EXPECT_EQ(bye->body.size(), 2u);
  EXPECT_EQ(statusOf(*bye), 1);
  EXPECT_FALSE(viewer.closedByPeer(300));  // the viewer closes the control connection
}

TEST(emulatorControl, AudioRepliesAnnounceThePortAndAvailability) {
  auto config = RunningEmulator::testConfig();
  config.audioMask = 0x2;  // only channel 2 has audio
  RunningEmulator dvr(config);
  ScriptedConnection viewer(dvr.port());
  ASSERT_EQ(viewer.login("demo", "demo"), 1);
  const auto open = viewer.request(REQ_AUDIOOPEN, {}, RSP_AUDIOOPEN);
  ASSERT_TRUE(open);
  ASSERT_EQ(open->body.size(), 69u);
  EXPECT_EQ(statusOf(*open), 1);
  EXPECT_NE(readBe16(open->body.data() + 67), 0);

  const auto start = viewer.request(REQ_AUDIOSTART, maskBody(0xFFFFFFFF, 22), RSP_AUDIOSTART);
  ASSERT_TRUE(start);
  EXPECT_EQ(start->body.size(), 89u);
  EXPECT_EQ(statusOf(*start), 1);

  for (const uint8_t number : {uint8_t{1}, uint8_t{2}}) {
    std::vector<uint8_t> body(8, 0);
    body[0] = number;
    const auto channel = viewer.request(REQ_AUDIOCHANNEL, body, RSP_AUDIOCHANNEL);
    ASSERT_TRUE(channel);
    ASSERT_EQ(channel->body.size(), 76u);
    EXPECT_EQ(statusOf(*channel), 1);
    EXPECT_EQ(channel->body[67], number);
    EXPECT_EQ(channel->body[68] != 0, number == 2) << "channel " << int(number);
  }
  const auto select = viewer.request(REQ_AUDIOSELECT, maskBody(0x2, 20), RSP_AUDIOSELECT);
  ASSERT_TRUE(select);
  EXPECT_EQ(select->body.size(), 87u);
  const auto stop = viewer.request(REQ_AUDIOSTOP, maskBody(0xFFFFFFFF, 20), RSP_AUDIOSTOP);
  ASSERT_TRUE(stop);
  EXPECT_EQ(stop->body.size(), 87u);
  EXPECT_EQ(statusOf(*stop), 1);
  const auto close = viewer.request(REQ_AUDIOCLOSE, {}, RSP_AUDIOCLOSE);
  ASSERT_TRUE(close);
  EXPECT_EQ(close->body.size(), 67u);
  EXPECT_EQ(statusOf(*close), 1);
}

TEST(emulatorControl, PtzIsAcceptedWithStatusZeroAndBusyForASecondSession) {
  RunningEmulator dvr;
  ScriptedConnection first(dvr.port());
  ScriptedConnection second(dvr.port());
  ASSERT_EQ(first.login("demo", "demo"), 1);
  ASSERT_EQ(second.login("demo", "demo"), 1);

  const auto right =
      first.request(REQ_PTZCONTROL, ptzBody("demo", "demo", 0, 4, 0), RSP_PTZCONTROL);
  ASSERT_TRUE(right);
  EXPECT_LE(right->body.size(), 70u);
  EXPECT_EQ(statusOf(*right), 0);

  // While the first session pans, the second one is told another user holds the camera.
  for (const auto& [code, reason] :
       std::vector<std::pair<uint8_t, uint8_t>>{{1, 0}, {5, 9}, {21, 21}}) {
    const auto busy =
        second.request(REQ_PTZCONTROL, ptzBody("demo", "demo", 0, code, 1), RSP_PTZCONTROL);
    ASSERT_TRUE(busy);
    ASSERT_EQ(busy->body.size(), 70u);
    EXPECT_NE(statusOf(*busy), 0);
    EXPECT_EQ(busy->body[68], reason) << "code " << int(code);
  }
  // Another camera is free.
  const auto other =
      second.request(REQ_PTZCONTROL, ptzBody("demo", "demo", 1, 3, 0), RSP_PTZCONTROL);
  ASSERT_TRUE(other);
  EXPECT_EQ(statusOf(*other), 0);

  // The camera moved: its pan went right.
  const auto stop = first.request(REQ_PTZCONTROL, ptzBody("demo", "demo", 0, 0, 0), RSP_PTZCONTROL);
  ASSERT_TRUE(stop);
  EXPECT_EQ(statusOf(*stop), 0);
  const std::string stats = dvr.command("stats");
  EXPECT_NE(stats.find("ptz 1: pan +"), std::string::npos) << stats;

  // Wrong credentials in the request are refused with a reason that doesn't mean "busy".
  const auto bad = first.request(REQ_PTZCONTROL, ptzBody("demo", "nope", 0, 21, 2), RSP_PTZCONTROL);
  ASSERT_TRUE(bad);
  EXPECT_NE(statusOf(*bad), 0);
  EXPECT_NE(bad->body[68], 0);
  EXPECT_NE(bad->body[68], 9);
  EXPECT_NE(bad->body[68], 21);
}

TEST(emulatorControl, PresetRecallMovesTheViewport) {
  RunningEmulator dvr;
  ScriptedConnection viewer(dvr.port());
  ASSERT_EQ(viewer.login("demo", "demo"), 1);
  const auto preset =
      viewer.request(REQ_PTZCONTROL, ptzBody("demo", "demo", 2, 21, 6), RSP_PTZCONTROL);
  ASSERT_TRUE(preset);
  EXPECT_EQ(statusOf(*preset), 0);
  auto* feed = dvr.emulator().core().feed(2);
  ASSERT_NE(feed, nullptr);
  const auto later = std::chrono::steady_clock::now() + std::chrono::seconds(4);
  const auto position = feed->camera().position(later);
  EXPECT_EQ(position.preset, 6);
  EXPECT_NEAR(position.zoom, 4.0, 0.01);
}

TEST(emulatorControl, ArmedFailureStatusAndUnknownModel) {
  RunningEmulator dvr;
  dvr.command("verbose on");  // the header trace runs on every send and receive
  ScriptedConnection viewer(dvr.port());
  ASSERT_EQ(viewer.login("demo", "demo"), 1);
  EXPECT_NE(dvr.command("fail RSP_QOSRESOLUTION 3").find("ok"), std::string::npos);
  EXPECT_NE(dvr.command("model QQQ9").find("ok"), std::string::npos);
  const auto qos = viewer.request(REQ_QOSRESOLUTION, {0, 0, 0xFF, 0xFF, 130}, RSP_QOSRESOLUTION);
  ASSERT_TRUE(qos);
  EXPECT_EQ(statusOf(*qos), 3);
  const auto again = viewer.request(REQ_QOSRESOLUTION, {0, 0, 0xFF, 0xFF, 130}, RSP_QOSRESOLUTION);
  ASSERT_TRUE(again);
  EXPECT_EQ(statusOf(*again), 1);
  const auto info = viewer.request(REQ_INFOPRODUCTINFO, {}, RSP_INFOPRODUCTINFO);
  ASSERT_TRUE(info);
  EXPECT_EQ(textAt(info->body, 10), "QQQ9");
}

TEST(emulatorControl, AliveChecksAndDropOfASilentSession) {
  auto config = RunningEmulator::testConfig();
  config.aliveIntervalSeconds = 0.2;
  config.aliveTimeoutSeconds = 0.7;
  RunningEmulator dvr(config);
  ScriptedConnection answering(dvr.port());
  ScriptedConnection silent(dvr.port());
  ASSERT_EQ(answering.login("demo", "demo"), 1);
  ASSERT_EQ(silent.login("demo", "demo"), 1);
  int checks = 0;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
  while (std::chrono::steady_clock::now() < until) {
    const auto message = answering.receive(300);
    if (!message) continue;
    if (message->header.command == REQ_ALIVECHECK) {
      EXPECT_EQ(message->raw.size(), 17u);
      ++checks;
      answering.send(RSP_ALIVECHECK, std::vector<uint8_t>(6, 0));
    }
  }
  EXPECT_GE(checks, 4);
  EXPECT_TRUE(silent.closedByPeer(1000));
  EXPECT_FALSE(answering.closedByPeer(100));
}

TEST(emulatorControl, UninterpretedRepliesOnDemand) {
  RunningEmulator dvr;
  ScriptedConnection viewer(dvr.port());
  ASSERT_EQ(viewer.login("demo", "demo"), 1);
  EXPECT_NE(dvr.command("chatter all").find("sent to 1"), std::string::npos);
  const auto message = viewer.receive();
  ASSERT_TRUE(message);
  const uint32_t code = message->header.command;
  EXPECT_TRUE((code >> 24) == 0x85 || (code >> 24) == 0x89) << std::hex << code;
  EXPECT_EQ((code >> 16) & 0x80, 0u);  // a reply code, not a request
}
