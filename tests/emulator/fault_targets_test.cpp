// Armed faults leave the login exchange (REQ_AUTHLOGIN, RSP_AUTHRESULT) alone unless it is named.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "protocol/byte_order.h"
#include "protocol/command_codes.h"
#include "scripted_viewer.h"

using namespace emutest;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {
// The first bytes on a connection: magic and command of the next header.
std::pair<std::string, uint32_t> nextHeader(ScriptedConnection& viewer) {
  const auto bytes = viewer.receiveRaw(17);
  if (bytes.size() < 17) return {"", 0};
  return {std::string(bytes.begin(), bytes.begin() + 4), readBe32(bytes.data() + 9)};
}

std::pair<std::string, uint32_t> bad(uint32_t command) {
  return {"ZEMX", command};
}

uint16_t portAt(const std::optional<Message>& reply, size_t offset) {
  return reply && reply->body.size() >= offset + 2 ? readBe16(reply->body.data() + offset) : 0;
}
}  // namespace

TEST(emulatorFaultTargets, LiveStallFromTheCommandLineHitsTheFirstFrameNotTheLogin) {
  RunningEmulator dvr(RunningEmulator::configWith({"--fault", "live stall 1"}));
  ScriptedConnection control(dvr.port());
  ASSERT_EQ(control.login("demo", "demo"), 1);
  ScriptedConnection live(portAt(control.request(REQ_LIVEOPEN, {}, RSP_LIVEOPEN), 2));
  const auto loginStart = Clock::now();
  ASSERT_EQ(live.login("demo", "demo"), 1);
  EXPECT_LT(Clock::now() - loginStart, 500ms);
  control.request(REQ_LIVESTART, maskBody(1, 20), RSP_LIVESTART);
  live.send(REQ_LIVEFRAME, liveFrameRequest(0));
  EXPECT_FALSE(live.receive(600).has_value());
  const auto frame = live.receive(2000);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->header.command, RSP_LIVEFRAME);
}

TEST(emulatorFaultTargets, SubConnectionLoginFaultsWhenNamed) {
  RunningEmulator dvr;
  ScriptedConnection control(dvr.port());
  ASSERT_EQ(control.login("demo", "demo"), 1);
  EXPECT_NE(dvr.command("fault audio bad-magic login").find("ok"), std::string::npos);
  EXPECT_NE(dvr.command("fault live bad-magic").find("ok"), std::string::npos);
  EXPECT_NE(dvr.command("fault live close-after 1 login-result").find("ok"), std::string::npos);

  ScriptedConnection audio(portAt(control.request(REQ_AUDIOOPEN, {}, RSP_AUDIOOPEN), 67));
  EXPECT_EQ(nextHeader(audio), bad(REQ_AUTHLOGIN));

  ScriptedConnection live(portAt(control.request(REQ_LIVEOPEN, {}, RSP_LIVEOPEN), 2));
  EXPECT_EQ(live.login("demo", "demo"), 1);  // the verdict comes, then the connection closes
  EXPECT_TRUE(live.closedByPeer());
  // The unnamed live fault waited for a live message after a login.
  EXPECT_NE(dvr.command("stats").find("fault live bad-magic"), std::string::npos);
}

TEST(emulatorFaultTargets, ControlLoginFaultsWhenNamed) {
  RunningEmulator dvr;
  dvr.command("fault control bad-magic");
  {
    ScriptedConnection viewer(dvr.port());
    ASSERT_EQ(viewer.login("demo", "demo"), 1);  // the verdict is exempt
    viewer.send(REQ_INFOPRODUCTINFO);
    EXPECT_EQ(nextHeader(viewer), bad(RSP_INFOPRODUCTINFO));
  }
  dvr.command("fault control bad-magic login-result");
  {
    ScriptedConnection viewer(dvr.port());
    const auto request = viewer.receive();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->header.command, REQ_AUTHLOGIN);
    const auto body = buildLoginBody("demo", "demo");
    viewer.send(RSP_AUTHLOGIN, {body.begin(), body.end()});
    EXPECT_EQ(nextHeader(viewer), bad(RSP_AUTHRESULT));
  }
  // On the control port the request goes out before the account tells control from notice.
  dvr.command("fault notice stall 0 login");
  ScriptedConnection silent(dvr.port());
  EXPECT_FALSE(silent.receive(500).has_value());
  ScriptedConnection next(dvr.port());
  EXPECT_EQ(next.login("demo", "demo"), 1);
}
