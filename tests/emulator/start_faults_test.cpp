// Every login refusal and every reply failure can be armed from the command line, so a scripted
// campaign needs no control channel.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "protocol/byte_order.h"
#include "protocol/command_codes.h"
#include "scripted_viewer.h"

using namespace emutest;

namespace {
struct Exchange {
  const char* reply;
  uint32_t request;
  uint32_t replyCode;
  std::vector<uint8_t> body;
};
}  // namespace

TEST(emulatorStartFaults, EveryRefusalStatusFromTheCommandLine) {
  const std::vector<uint16_t> statuses{2, 2049, 2050, 2051, 2052, 2053, 2054, 2055, 7, 0};
  std::vector<std::string> options{"--fault", "refuse-next 2053 live", "--fault",
                                   "refuse-next 2 notice"};
  for (const uint16_t status : statuses)
    options.insert(options.end(), {"--fault", "refuse-next " + std::to_string(status)});
  RunningEmulator dvr(RunningEmulator::configWith(options));
  for (const uint16_t status : statuses) {  // taken one login at a time, in order
    ScriptedConnection viewer(dvr.port());
    EXPECT_EQ(viewer.login("demo", "demo"), status);
  }
  ScriptedConnection notice(dvr.port());
  EXPECT_EQ(notice.login("probe_5831", "vopan"), 2);
  auto session = prepareSession(dvr.port());
  ASSERT_TRUE(session.control);
  EXPECT_FALSE(session.live);  // its login got 2053
  EXPECT_NE(dvr.command("stats").find("nothing armed"), std::string::npos);
}

TEST(emulatorStartFaults, EveryReplyFailureFromTheCommandLine) {
  std::vector<uint8_t> configSet(15, 0);
  configSet[5] = 1;
  const std::vector<Exchange> exchanges{
      {"RSP_INFOPRODUCTINFO", REQ_INFOPRODUCTINFO, RSP_INFOPRODUCTINFO, {}},
      {"RSP_PTZACTIVECAM", REQ_PTZACTIVECAM, RSP_PTZACTIVECAM, {}},
      {"RSP_INFOCONFIGSET", REQ_INFOCONFIGSET, RSP_INFOCONFIGSET, configSet},
      {"RSP_QOSRESOLUTION", REQ_QOSRESOLUTION, RSP_QOSRESOLUTION, {0, 0, 0xFF, 0xFF, 130}},
      {"RSP_LIVESETUP", REQ_LIVESETUP, RSP_LIVESETUP, maskBody(0xFFFFFFFF, 18)},
      {"RSP_AUDIOOPEN", REQ_AUDIOOPEN, RSP_AUDIOOPEN, {}},
      {"RSP_AUDIOSTART", REQ_AUDIOSTART, RSP_AUDIOSTART, maskBody(0xFFFFFFFF, 22)},
      {"RSP_AUDIOCHANNEL", REQ_AUDIOCHANNEL, RSP_AUDIOCHANNEL, {1, 0, 0, 0, 0, 0, 0, 0}},
      {"RSP_AUDIOSELECT", REQ_AUDIOSELECT, RSP_AUDIOSELECT, maskBody(1, 20)},
      {"RSP_AUDIOSTOP", REQ_AUDIOSTOP, RSP_AUDIOSTOP, maskBody(0xFFFFFFFF, 20)},
      {"RSP_AUDIOCLOSE", REQ_AUDIOCLOSE, RSP_AUDIOCLOSE, {}},
      {"RSP_LIVECLOSE", REQ_LIVECLOSE, RSP_LIVECLOSE, {}},
      {"RSP_DISCONNECT", REQ_DISCONNECT, RSP_DISCONNECT, {}},
  };
  std::vector<std::string> options;
  for (const auto* reply : {"RSP_LIVEOPEN", "RSP_LIVESTART", "RSP_LIVEFRAME", "RSP_PTZCONTROL"})
    options.insert(options.end(), {"--fault", std::string("fail ") + reply + " 3"});
  for (const auto& exchange : exchanges)
    options.insert(options.end(), {"--fault", std::string("fail ") + exchange.reply + " 3"});
  RunningEmulator dvr(RunningEmulator::configWith(options));

  auto session = prepareSession(dvr.port());  // its live open carried status 3, and the port
  ASSERT_TRUE(session.live);
  const auto refused = session.control->request(REQ_LIVESTART, maskBody(1, 20), RSP_LIVESTART);
  ASSERT_TRUE(refused);
  EXPECT_EQ(statusOf(*refused), 3);
  session.control->request(REQ_LIVESTART, maskBody(1, 20), RSP_LIVESTART);
  session.live->send(REQ_LIVEFRAME, liveFrameRequest(0));
  const auto frame = session.live->receive();
  ASSERT_TRUE(frame);
  EXPECT_EQ(statusOf(*frame), 3);

  std::vector<uint8_t> ptz(67, 0);
  std::memcpy(ptz.data(), "demo", 4);
  std::memcpy(ptz.data() + 32, "demo", 4);
  const auto busy = session.control->request(REQ_PTZCONTROL, ptz, RSP_PTZCONTROL);
  ASSERT_TRUE(busy);
  EXPECT_EQ(statusOf(*busy), 3);
  EXPECT_EQ(busy->body[68], 9);  // another user holds the camera

  for (const auto& exchange : exchanges) {
    const auto reply =
        session.control->request(exchange.request, exchange.body, exchange.replyCode);
    ASSERT_TRUE(reply) << exchange.reply;
    EXPECT_EQ(statusOf(*reply), 3) << exchange.reply;
  }
  EXPECT_NE(dvr.command("stats").find("nothing armed"), std::string::npos);
}
