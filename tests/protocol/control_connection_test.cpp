// The control connection against a scripted DVR: the bytes it sends and what it does with what
// it receives.
#include <string>
#include <thread>

#include "client_fixture.h"

namespace {

class ControlConnection : public ClientFixture {};

TEST_F(ControlConnection, AnswersLoginAndAliveCheckWithTheGoldenBytes) {
  EXPECT_EQ(connectAndLogin(), goldenLogin("admin", "secret"));
  ASSERT_TRUE(waitFor([&] { return window.count(msg::kControlConnectResult) == 1; }));
  EXPECT_EQ(window.messages.front().wParam, uintptr_t{kIndex});
  EXPECT_EQ(window.messages.front().lParam, 0);
  EXPECT_FALSE(client->connectFailed());
  control->sendMessage(REQ_AUTHLOGIN, Bytes{1, 2, 3});  // a login request with a body
  EXPECT_EQ(control->readBytes(81), goldenLogin("admin", "secret"));
  control->sendMessage(REQ_ALIVECHECK);
  EXPECT_EQ(control->readBytes(23), concat(goldenHeader(RSP_ALIVECHECK, 6), Bytes(6, 0)));
  EXPECT_TRUE(control->quietFor(50));
}

TEST_F(ControlConnection, CutsLongCredentialsToTheirFields) {
  client->state().setUserId(std::string(40, 'u'));
  client->state().setPassword(std::string(33, 'p'));
  EXPECT_EQ(connectAndLogin(), goldenLogin(std::string(32, 'u'), std::string(32, 'p')));
}

TEST_F(ControlConnection, SendsEveryRequestBodyExactly) {
  EXPECT_EQ(client->requestProductInfo(), 0);  // not connected
  connectAndLogin();
  // Neither sub-connection runs: these send nothing.
  EXPECT_EQ(client->requestLiveClose(), 0);
  EXPECT_EQ(client->requestAudioClose(), 0);
  EXPECT_EQ(client->connectControl("127.0.0.1", listener.port()), 0);  // still running
  Bytes ptz = goldenLogin("admin", "secret");
  ptz.erase(ptz.begin(), ptz.begin() + 17);
  ptz.insert(ptz.end(), {3, 0x21, 7});
  Bytes allFour(4, 0xFF), mask20(20, 0);
  mask20[2] = 0x80;  // channel 15
  const struct {
    std::function<int32_t()> request;
    uint32_t code;
    Bytes body;
  } cases[]{
      {[&] { return client->requestProductInfo(); }, REQ_INFOPRODUCTINFO, {}},
      {[&] { return client->requestPtzActiveCam(); }, REQ_PTZACTIVECAM, {}},
      {[&] { return client->requestConfigSet(true); },
       REQ_INFOCONFIGSET,
       {0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 1}},
      {[&] { return client->requestConfigSet(false); },
       REQ_INFOCONFIGSET,
       {0, 0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 1, 1}},
      {[&] { return client->requestQosResolution(0x0000FFFF, 130); },
       REQ_QOSRESOLUTION,
       {0, 0, 0xFF, 0xFF, 130}},
      {[&] { return client->requestLiveOpen(); }, REQ_LIVEOPEN, {}},
      {[&] { return client->requestLiveSetup(); }, REQ_LIVESETUP, concat(allFour, Bytes(14, 0))},
      {[&] { return client->requestLiveStart(1u << 15); }, REQ_LIVESTART, mask20},
      {[&] { return client->requestPtzControl(3, 0x21, 7); }, REQ_PTZCONTROL, ptz},
      {[&] { return client->requestDisconnect(); }, REQ_DISCONNECT, {}},
      {[&] { return client->requestAudioOpen(); }, REQ_AUDIOOPEN, {}},
      {[&] { return client->requestAudioStart(~0u); }, REQ_AUDIOSTART,
       concat(allFour, Bytes(18, 0))},
      {[&] { return client->requestAudioChannel(0x105); },
       REQ_AUDIOCHANNEL,
       {5, 0, 0, 0, 0, 0, 0, 0}},
      {[&] { return client->requestAudioSelect(1u << 15); }, REQ_AUDIOSELECT, mask20},
      {[&] { return client->requestAudioStop(~0u); }, REQ_AUDIOSTOP, concat(allFour, Bytes(16, 0))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(commandName(c.code)));
    EXPECT_EQ(c.request(), 1);
    const auto size = static_cast<uint32_t>(c.body.size());
    EXPECT_EQ(control->readBytes(17 + size), concat(goldenHeader(c.code, size), c.body));
  }
  EXPECT_TRUE(control->quietFor(50));
}

TEST_F(ControlConnection, PassesRepliesOnWithTheirBodyAndSubCodeAndConsumesTheOthers) {
  connectAndLogin();
  control->sendMessage(RSP_AUTHRESULT, Bytes{0, 1, 0});
  control->sendMessage(RSP_LIVECOMPLETE, Bytes(22, 0));
  control->sendMessage(RSP_INFO06, Bytes(4, 0));
  control->sendMessage(RSP_AUDIO11, Bytes(91, 0));
  control->sendMessage(0x12345678, Bytes{9});
  control->sendMessage(EVT_NOTICE, Bytes(24, 0));  // a notice on the control connection
  control->sendMessage(RSP_INFO0E);                // length 0: passed on without body
  auto info05 = concat(goldenHeader(RSP_INFO05, 1), {7});
  writeBe32(info05.data() + 13, 0x00010000);  // the subCode is passed on as received
  control->send(info05);
  const auto replies = waitForReplies(3);
  ASSERT_EQ(replies.size(), 3u);
  EXPECT_EQ(fields(replies[0]),
            (ReplyFields{
                RSP_AUTHRESULT, RSP_AUTHRESULT, kReplyFromControl, kIndex, 3, {0, 1, 0}, false}));
  EXPECT_EQ(fields(replies[1]), (ReplyFields{RSP_INFO0E, RSP_INFO0E, 0, kIndex, 0, {}, true}));
  EXPECT_EQ(fields(replies[2]), (ReplyFields{RSP_INFO05, 0x00010000, 0, kIndex, 1, {7}, false}));
  EXPECT_FALSE(moreRepliesThan(3));
}

TEST_F(ControlConnection, LiveOpenFailureClearsTheFlagsAndPortZeroProducesNothing) {
  connectAndLogin();
  client->state().orLiveFlags(1);
  control->sendMessage(RSP_LIVEOPEN, Bytes{0, 2, 0x12, 0x34});
  control->sendMessage(RSP_LIVEOPEN, Bytes{0, 1, 0, 0});
  control->sendMessage(RSP_LIVEOPEN, Bytes{0, 1});  // too short: a failure, passed on
  const auto replies = waitForReplies(2);
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0].body, (Bytes{0, 2, 0x12, 0x34}));
  EXPECT_EQ(replies[1].body, (Bytes{0, 1}));
  EXPECT_EQ(client->state().liveFlags(), 0u);
  EXPECT_FALSE(client->stream().isRunning());
}

TEST_F(ControlConnection, LiveOpenSuccessOpensTheStreamThenPassesOnAndLiveCloseClearsTheMask) {
  connectAndLogin();
  openStream();
  EXPECT_EQ(client->state().liveFlags() & 1u, 1u);
  EXPECT_EQ(replyCommands(1), Commands{RSP_LIVEOPEN});
  client->state().setLiveMaskBits(0x11);
  EXPECT_EQ(client->requestLiveClose(), 1);
  EXPECT_EQ(control->readBytes(17), goldenHeader(REQ_LIVECLOSE, 0));
  EXPECT_EQ(client->state().liveMask(), 0u);
}

TEST_F(ControlConnection, AudioOpenIsNeverPassedOn) {
  connectAndLogin();
  control->sendMessage(RSP_AUDIOOPEN, openReply(2, audioListener.port(), 67, 69));  // refused
  control->sendMessage(RSP_AUDIOOPEN, openReply(1, 0, 67, 69));
  control->sendMessage(RSP_AUDIOOPEN, Bytes{0, 1, 0, 9});  // too short for the port
  openAudio();
  control->sendMessage(RSP_INFO07);  // a marker that everything before it was handled
  EXPECT_EQ(replyCommands(1), Commands{RSP_INFO07});
  EXPECT_FALSE(audioListener.accept(50));  // only the one audio connection was opened
}

TEST_F(ControlConnection, FramingFaults) {
  connectAndLogin();
  // A header split over several segments.
  const Bytes split = concat(goldenHeader(RSP_INFO08, 2), {0, 1});
  for (size_t i = 0; i < split.size(); i += 3) {
    control->send(std::span(split).subspan(i, std::min<size_t>(3, split.size() - i)));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  // A wrong magic drops 17 bytes: a searching receiver would find the ZEMO at offset 3 and lose
  // the RSP_INFO05 header that follows.
  auto bad = goldenHeader(RSP_INFO09, 0);
  std::copy_n("XYZZEMO", 7, bad.begin());
  auto byteFour = goldenHeader(RSP_INFO09, 0);
  byteFour[4] = 0x55;  // ignored
  control->send(concat(concat(bad, goldenHeader(RSP_INFO05, 0)), byteFour));
  // A body larger than any control reply is skipped.
  const uint32_t tooLong = 65107;
  control->sendHeader(RSP_INFO05, tooLong);
  control->send(Bytes(tooLong, 0x5A));
  control->sendMessage(RSP_INFO07, Bytes{0, 1});
  EXPECT_EQ(replyCommands(4), (Commands{RSP_INFO08, RSP_INFO05, RSP_INFO09, RSP_INFO07}));
  EXPECT_FALSE(moreRepliesThan(4));
  EXPECT_EQ(window.replies()[0].body, (Bytes{0, 1}));
  EXPECT_TRUE(client->state().connected());
}

TEST_F(ControlConnection, LinkLostPostsOnceAndClosesTheNoticeConnection) {
  connectAndLogin();
  control->sendHeader(RSP_INFO05, 5000);
  control->send(Bytes(1000, 1));
  control->close();  // the body is cut by the closed connection and dropped
  ASSERT_TRUE(waitFor([&] { return window.count(msg::kControlLinkLost) == 1; }));
  EXPECT_FALSE(waitFor([&] { return window.count(msg::kControlLinkLost) > 1; }, 100));
  EXPECT_EQ(window.find(msg::kControlLinkLost)->wParam, uintptr_t{kIndex});
  EXPECT_EQ(window.find(msg::kControlLinkLost)->lParam, 0);
  EXPECT_TRUE(window.replies().empty());
  EXPECT_FALSE(client->state().connected());
  EXPECT_TRUE(notice->closedByClient());
  EXPECT_EQ(client->requestProductInfo(), 0);
  EXPECT_EQ(client->disconnectControl(), 1);
}

TEST_F(ControlConnection, AnAbsurdLengthIsALostLink) {
  connectAndLogin();
  control->sendHeader(RSP_INFO05, 0xFFFFFFFF);
  control->send(Bytes(1000, 1));
  EXPECT_TRUE(control->closedByClient());
  ASSERT_TRUE(waitFor([&] { return window.count(msg::kControlLinkLost) == 1; }));
  EXPECT_TRUE(client->linkLost());
  EXPECT_TRUE(notice->closedByClient());
}

TEST_F(ControlConnection, SilenceForTheLinkTimeoutIsALostLinkAndAliveChecksKeepItUp) {
  client->setLinkTimeoutMs(300);
  connectAndLogin();
  // Alive checks every 100 ms for a second: the link stays.
  for (int i = 0; i < 10; ++i) {
    control->sendMessage(REQ_ALIVECHECK);
    ASSERT_TRUE(control->readBytes(23));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(window.count(msg::kControlLinkLost), 0u);
  EXPECT_FALSE(client->linkLost());
  // Then nothing at all, as from a DVR without power: the link-lost path runs by itself.
  EXPECT_TRUE(control->closedByClient(3000));
  ASSERT_TRUE(waitFor([&] { return window.count(msg::kControlLinkLost) == 1; }));
  EXPECT_TRUE(client->linkLost());
  EXPECT_FALSE(client->state().connected());
  EXPECT_TRUE(notice->closedByClient());
}

TEST_F(ControlConnection, RefusedConnectIsReportedTwice) {
  ASSERT_EQ(client->connectControl("127.0.0.1", unusedLoopbackPort()), 1);
  ASSERT_TRUE(waitFor([&] { return window.count(msg::kControlConnectResult) == 2; }));
  // First the client's report with its index, then the channel's own with 0.
  EXPECT_EQ(window.messages[0].wParam, uintptr_t{kIndex});
  EXPECT_EQ(window.messages[1].wParam, 0u);
  for (const auto& m : window.messages) EXPECT_EQ(m.lParam, -1);
  EXPECT_TRUE(client->connectFailed());
  EXPECT_FALSE(client->state().connected());
  EXPECT_FALSE(waitFor([&] { return window.messages.size() > 2; }, 100));
}

TEST_F(ControlConnection, OrderlyDisconnectClosesBothConnections) {
  connectAndLogin();
  EXPECT_EQ(client->disconnectControl(), 1);
  EXPECT_TRUE(control->closedByClient());
  EXPECT_TRUE(notice->closedByClient());
  EXPECT_FALSE(client->state().connected());
  EXPECT_EQ(window.count(msg::kControlLinkLost), 0u);
}

TEST(ConnectionStateTest, SettersRefuseEmptyValues) {
  ConnectionState state;
  EXPECT_EQ(state.setUserId("a"), 1);
  EXPECT_EQ(state.setUserId(""), 0);
  EXPECT_EQ(state.userId(), "a");
  EXPECT_EQ(state.setPort(0), 0);
  EXPECT_EQ(state.setLiveMaskBits(0), 0);
  EXPECT_EQ(state.clearLiveMaskBits(0), 0);
  state.setLiveMaskBits(0x6);
  state.clearLiveMaskBits(0x2);
  EXPECT_EQ(state.liveMask(), 0x4u);
  state.orLiveFlags(1);
  state.orLiveFlags(0);
  EXPECT_EQ(state.liveFlags(), 0u);
  state.setModelInfo({90, 48});
  EXPECT_EQ(state.modelInfo(), (ModelInfo{90, 48}));
  state.reset();
  EXPECT_EQ(state.userId(), "");
  EXPECT_EQ(state.modelInfo(), (ModelInfo{0, 0}));
}

}  // namespace
