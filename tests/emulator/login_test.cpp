// Logins on the control port (control and notice accounts) and on the sub-connections.
#include <gtest/gtest.h>

#include "protocol/byte_order.h"
#include "protocol/command_codes.h"
#include "scripted_viewer.h"

using namespace emutest;

TEST(emulatorLogin, ControlPortAsksFirstAndAcceptsTheConfiguredAccount) {
  RunningEmulator dvr;
  ScriptedConnection viewer(dvr.port());
  const auto request = viewer.receive();
  ASSERT_TRUE(request);
  EXPECT_EQ(request->header.command, REQ_AUTHLOGIN);
  EXPECT_EQ(request->header.subCode, REQ_AUTHLOGIN);
  EXPECT_EQ(request->raw.size(), 17u);  // no body
  EXPECT_EQ(request->raw[4], 0);
  const auto body = buildLoginBody("demo", "demo");
  viewer.send(RSP_AUTHLOGIN, {body.begin(), body.end()});
  const auto result = viewer.receive();
  ASSERT_TRUE(result);
  EXPECT_EQ(result->header.command, RSP_AUTHRESULT);
  ASSERT_EQ(result->body.size(), 3u);
  EXPECT_EQ(readBe16(result->body.data()), 1);
}

TEST(emulatorLogin, NoticeAccountLogsInBesideTheControlConnection) {
  RunningEmulator dvr;
  ScriptedConnection control(dvr.port());
  ScriptedConnection notice(dvr.port());
  EXPECT_EQ(control.login("demo", "demo"), 1);
  EXPECT_EQ(notice.login("probe_5831", "vopan"), 1);
  EXPECT_NE(dvr.command("sessions").find("notice"), std::string::npos);
  // The notice connection is no session: one session only.
  EXPECT_NE(dvr.command("stats").find("sessions 1\n"), std::string::npos);
}

TEST(emulatorLogin, RefusalsCarryTheReasonStatus) {
  RunningEmulator dvr;
  {
    ScriptedConnection viewer(dvr.port());
    EXPECT_EQ(viewer.login("nobody", "demo"), 2051);
    EXPECT_FALSE(viewer.request(REQ_INFOPRODUCTINFO, {}, RSP_INFOPRODUCTINFO).has_value());
  }
  {
    ScriptedConnection viewer(dvr.port());
    EXPECT_EQ(viewer.login("demo", "wrong"), 2052);
  }
  {
    EXPECT_NE(dvr.command("refuse-next 2055").find("ok"), std::string::npos);
    ScriptedConnection viewer(dvr.port());
    EXPECT_EQ(viewer.login("demo", "demo"), 2055);
    ScriptedConnection again(dvr.port());  // a refusal is taken once
    EXPECT_EQ(again.login("demo", "demo"), 1);
  }
}

TEST(emulatorLogin, RefusalStatusAndSessionLimitFromOptions) {
  auto config = RunningEmulator::testConfig();
  config.refuseStatus = 2049;
  config.maxSessions = 1;
  RunningEmulator dvr(config);
  ScriptedConnection wrong(dvr.port());
  EXPECT_EQ(wrong.login("demo", "bad"), 2049);
  ScriptedConnection first(dvr.port());
  EXPECT_EQ(first.login("demo", "demo"), 1);
  ScriptedConnection second(dvr.port());
  EXPECT_EQ(second.login("demo", "demo"), 2050);
}

TEST(emulatorLogin, RefusedConnectionStaysOpenUntilTheViewerCloses) {
  RunningEmulator dvr;
  ScriptedConnection viewer(dvr.port());
  EXPECT_EQ(viewer.login("demo", "bad"), 2052);
  EXPECT_FALSE(viewer.closedByPeer(500));  // the viewer reads the refusal before the link goes
}

TEST(emulatorLogin, LiveStreamAndAudioConnectionsLogInOnTheirOwn) {
  RunningEmulator dvr;
  auto session = prepareSession(dvr.port());
  ASSERT_TRUE(session.live);
  const auto open = session.control->request(REQ_AUDIOOPEN, {}, RSP_AUDIOOPEN);
  ASSERT_TRUE(open);
  ASSERT_EQ(open->body.size(), 69u);
  ScriptedConnection audio(readBe16(open->body.data() + 67));
  EXPECT_EQ(audio.login("demo", "demo"), 1);

  EXPECT_NE(dvr.command("refuse-next 2053 live").find("ok"), std::string::npos);
  const auto reopen = session.control->request(REQ_LIVEOPEN, {}, RSP_LIVEOPEN);
  ASSERT_TRUE(reopen);
  ScriptedConnection secondLive(readBe16(reopen->body.data() + 2));
  EXPECT_EQ(secondLive.login("demo", "demo"), 2053);
}

TEST(emulatorLogin, UserNamesFromTheNetworkAreLoggedEscaped) {
  RunningEmulator dvr;
  dvr.emulator().core().log().setQuiet(false);
  testing::internal::CaptureStderr();
  {
    ScriptedConnection viewer(dvr.port());
    EXPECT_EQ(viewer.login("\x1b]2;owned\x07\x1b[2J\\x\xff", "demo"), 2051);
  }
  dvr.emulator().core().log().setQuiet(true);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("'\\x1b]2;owned\\x07\\x1b[2J\\\\x\\xff'"), std::string::npos) << log;
  for (const char c : log) {
    const auto byte = static_cast<unsigned char>(c);
    EXPECT_TRUE(c == '\n' || (byte >= 0x20 && byte < 0x7F)) << "raw byte " << int(byte);
  }
}
