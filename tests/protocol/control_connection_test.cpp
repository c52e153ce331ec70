// The control connection against a scripted DVR: the bytes it sends and what it does with what
// it receives.
#include <string>
#include <thread>

#include "client_fixture.h"
#include "platform/result_codes.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes header(uint32_t command, uint32_t length) {
  const auto h = MessageHeader::build(command, length);
  return Bytes(h.begin(), h.end());
}

Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class ControlConnection : public ClientFixture {};

TEST_F(ControlConnection, AnswersTheLoginWithTheGoldenBytes) {
  const PeerMessage login = connectAndLogin();
  Bytes expected = header(RSP_AUTHLOGIN, 64);
  EXPECT_EQ(Bytes(expected.begin(), expected.begin() + 5), (Bytes{'Z', 'E', 'M', 'O', 0}));
  Bytes body(64, 0);
  std::copy_n("admin", 5, body.begin());
  std::copy_n("secret", 6, body.begin() + 32);
  EXPECT_EQ(login.wire(), concat(expected, body));
  EXPECT_EQ(login.subCode(), RSP_AUTHLOGIN);
  ASSERT_TRUE(waitFor([&] { return window.count(msg::kControlConnectResult) == 1; }));
  EXPECT_EQ(window.messages.front().lParam, 0);
}

TEST_F(ControlConnection, CutsLongCredentialsToTheirFields) {
  client->state().setUserId(std::string(40, 'u'));
  client->state().setPassword(std::string(33, 'p'));
  const PeerMessage login = connectAndLogin();
  ASSERT_EQ(login.body.size(), 64u);
  EXPECT_EQ(std::string(login.body.begin(), login.body.begin() + 32), std::string(32, 'u'));
  EXPECT_EQ(std::string(login.body.begin() + 32, login.body.end()), std::string(32, 'p'));
}

TEST_F(ControlConnection, LoginRequestWithABodyIsAnsweredTheSameWay) {
  connectAndLogin();
  control->sendMessage(REQ_AUTHLOGIN, Bytes{1, 2, 3});
  const auto again = control->readMessage();
  ASSERT_TRUE(again);
  EXPECT_EQ(again->command(), RSP_AUTHLOGIN);
  EXPECT_EQ(std::string(again->body.begin(), again->body.begin() + 5), "admin");
}

TEST_F(ControlConnection, AnswersAliveCheckWithTwentyThreeBytes) {
  connectAndLogin();
  control->sendMessage(REQ_ALIVECHECK);
  const auto bytes = control->readBytes(23);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(*bytes, concat(header(RSP_ALIVECHECK, 6), Bytes(6, 0)));
  EXPECT_TRUE(control->quietFor(50));
}

TEST_F(ControlConnection, SendsEveryRequestBodyExactly) {
  connectAndLogin();
  struct Case {
    std::function<int32_t()> request;
    uint32_t code;
    Bytes body;
  };
  Bytes ptz(67, 0);
  std::copy_n("admin", 5, ptz.begin());
  std::copy_n("secret", 6, ptz.begin() + 32);
  ptz[64] = 3;
  ptz[65] = 0x21;
  ptz[66] = 7;
  Bytes liveSetup(18, 0);
  std::fill_n(liveSetup.begin(), 4, 0xFF);
  Bytes audioStart(22, 0);
  std::fill_n(audioStart.begin(), 4, 0xFF);
  Bytes mask20(20, 0);
  mask20[2] = 0x80;  // channel 15
  Bytes stop20(20, 0);
  std::fill_n(stop20.begin(), 4, 0xFF);
  const std::vector<Case> cases{
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
      {[&] { return client->requestLiveSetup(); }, REQ_LIVESETUP, liveSetup},
      {[&] { return client->requestLiveStart(1u << 15); }, REQ_LIVESTART, mask20},
      {[&] { return client->requestPtzControl(3, 0x21, 7); }, REQ_PTZCONTROL, ptz},
      {[&] { return client->requestDisconnect(); }, REQ_DISCONNECT, {}},
      {[&] { return client->requestAudioOpen(); }, REQ_AUDIOOPEN, {}},
      {[&] { return client->requestAudioStart(0xFFFFFFFF); }, REQ_AUDIOSTART, audioStart},
      {[&] { return client->requestAudioChannel(0x105); },
       REQ_AUDIOCHANNEL,
       {5, 0, 0, 0, 0, 0, 0, 0}},
      {[&] { return client->requestAudioSelect(1u << 15); }, REQ_AUDIOSELECT, mask20},
      {[&] { return client->requestAudioStop(0xFFFFFFFF); }, REQ_AUDIOSTOP, stop20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(commandName(c.code)));
    EXPECT_EQ(c.request(), 1);
    const auto bytes = control->readBytes(17 + c.body.size());
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, concat(header(c.code, static_cast<uint32_t>(c.body.size())), c.body));
  }
  EXPECT_TRUE(control->quietFor(50));
}

TEST_F(ControlConnection, RequestsNeedTheConnection) {
  EXPECT_EQ(client->requestProductInfo(), 0);
  connectAndLogin();
  // Neither sub-connection runs: these send nothing.
  EXPECT_EQ(client->requestLiveClose(), 0);
  EXPECT_EQ(client->requestAudioClose(), 0);
  EXPECT_TRUE(control->quietFor(50));
  EXPECT_EQ(client->connectControl("127.0.0.1", listener.port()), 0);  // still running
}

TEST_F(ControlConnection, RequestLiveCloseClearsTheLiveMask) {
  connectAndLogin();
  openStream();
  client->state().setLiveMaskBits(0x11);
  EXPECT_EQ(client->requestLiveClose(), 1);
  const auto sent = control->readMessage();
  ASSERT_TRUE(sent);
  EXPECT_EQ(sent->command(), REQ_LIVECLOSE);
  EXPECT_EQ(client->state().liveMask(), 0u);
}

TEST_F(ControlConnection, PassesRepliesOnAndConsumesTheOthers) {
  connectAndLogin();
  control->sendMessage(RSP_AUTHRESULT, Bytes{0, 1, 0});
  control->sendMessage(RSP_LIVECOMPLETE, Bytes(22, 0));
  control->sendMessage(RSP_INFO06, Bytes(4, 0));
  control->sendMessage(RSP_AUDIO11, Bytes(91, 0));
  control->sendMessage(0x12345678, Bytes{9});
  control->sendMessage(EVT_NOTICE, Bytes(24, 0));  // a notice on the control connection
  control->sendMessage(RSP_INFO0E);                // length 0: passed on without body
  control->sendMessage(RSP_DISCONNECT, Bytes{0, 1});
  const auto replies = waitForReplies(3);
  ASSERT_EQ(replies.size(), 3u);
  EXPECT_EQ(replies[0].record.command, RSP_AUTHRESULT);
  EXPECT_EQ(replies[0].record.kind, kReplyFromControl);
  EXPECT_EQ(replies[0].record.index, 0);
  EXPECT_EQ(replies[0].record.subCode, RSP_AUTHRESULT);
  EXPECT_EQ(replies[0].body, (Bytes{0, 1, 0}));
  EXPECT_EQ(replies[1].record.command, RSP_INFO0E);
  EXPECT_TRUE(replies[1].bodyWasNull);
  EXPECT_EQ(replies[1].record.length, 0u);
  EXPECT_EQ(replies[2].record.command, RSP_DISCONNECT);
  EXPECT_FALSE(waitFor([&] { return window.replies().size() > 3; }, 100));
}

TEST_F(ControlConnection, PassesTheSubCodeOnUnchanged) {
  connectAndLogin();
  auto bytes = header(RSP_INFO05, 1);
  writeBe32(bytes.data() + 13, 0x00010000);
  bytes.push_back(7);
  control->send(bytes);
  const auto replies = waitForReplies(1);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].record.subCode, 0x00010000u);
}

TEST_F(ControlConnection, LiveOpenFailureClearsTheFlagsAndIsPassedOn) {
  connectAndLogin();
  client->state().orLiveFlags(1);
  control->sendMessage(RSP_LIVEOPEN, Bytes{0, 2, 0x12, 0x34});
  const auto replies = waitForReplies(1);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].record.command, RSP_LIVEOPEN);
  EXPECT_EQ(client->state().liveFlags(), 0u);
  EXPECT_FALSE(client->stream().isRunning());
}

TEST_F(ControlConnection, LiveOpenWithPortZeroProducesNothing) {
  connectAndLogin();
  control->sendMessage(RSP_LIVEOPEN, Bytes{0, 1, 0, 0});
  control->sendMessage(RSP_LIVEOPEN, Bytes{0, 1});  // too short: a failure, passed on
  const auto replies = waitForReplies(1);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].body, (Bytes{0, 1}));
  EXPECT_EQ(client->state().liveFlags(), 0u);
}

TEST_F(ControlConnection, LiveOpenSuccessOpensTheStreamThenPassesOn) {
  connectAndLogin();
  openStream();
  EXPECT_EQ(client->state().liveFlags() & 1u, 1u);
  const auto replies = waitForReplies(1);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].record.command, RSP_LIVEOPEN);
}

TEST_F(ControlConnection, AudioOpenIsNeverPassedOn) {
  connectAndLogin();
  Bytes refused(69, 0);
  writeBe16(refused.data(), 2);
  control->sendMessage(RSP_AUDIOOPEN, refused);
  Bytes portZero(69, 0);
  writeBe16(portZero.data(), 1);
  control->sendMessage(RSP_AUDIOOPEN, portZero);
  control->sendMessage(RSP_AUDIOOPEN, Bytes{0, 1, 0, 9});  // too short for the port
  openAudio();
  control->sendMessage(RSP_INFO07);  // a marker that everything before it was handled
  const auto replies = waitForReplies(1);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].record.command, RSP_INFO07);
  EXPECT_FALSE(audioListener.accept(50));  // only the one audio connection was opened
}

TEST_F(ControlConnection, ReadsAHeaderSplitOverSegments) {
  connectAndLogin();
  const Bytes message = concat(header(RSP_INFO08, 2), Bytes{0, 1});
  for (size_t i = 0; i < message.size(); i += 3) {
    control->send(std::span(message).subspan(i, std::min<size_t>(3, message.size() - i)));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const auto replies = waitForReplies(1);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].record.command, RSP_INFO08);
  EXPECT_EQ(replies[0].body, (Bytes{0, 1}));
}

TEST_F(ControlConnection, DropsAWrongMagicWithoutSearchingAndIgnoresByteFour) {
  connectAndLogin();
  auto bad = header(RSP_INFO09, 0);
  bad[0] = 'X';
  // The dropped header is followed by 17 bytes that hold a whole header only if the receiver
  // doesn't search: a searching receiver would find the ZEMO at offset 3 of the bad bytes.
  auto tricky = header(RSP_INFO05, 0);
  std::copy_n("ZEMO", 4, bad.begin() + 3);
  auto byteFour = header(RSP_INFO09, 0);
  byteFour[4] = 0x55;
  control->send(concat(concat(bad, tricky), byteFour));
  const auto replies = waitForReplies(2);
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0].record.command, RSP_INFO05);
  EXPECT_EQ(replies[1].record.command, RSP_INFO09);
}

TEST_F(ControlConnection, SkipsABodyTooLargeToAllocateAndCarriesOn) {
  connectAndLogin();
  const uint32_t huge = 8u * 1024u * 1024u;
  control->sendHeader(RSP_INFO05, huge);
  control->send(Bytes(huge, 0x5A));
  control->sendMessage(RSP_INFO09, Bytes{0, 1});
  const auto replies = waitForReplies(1);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].record.command, RSP_INFO09);
  EXPECT_TRUE(client->state().connected());
}

TEST_F(ControlConnection, LengthOfAllOnesNeverAllocatesAndTheCutBodyIsDropped) {
  connectAndLogin();
  control->sendHeader(RSP_INFO05, 0xFFFFFFFF);
  control->send(Bytes(1000, 1));
  control->close();  // the body is cut by the closed connection
  ASSERT_TRUE(waitFor([&] { return window.count(msg::kControlLinkLost) == 1; }));
  EXPECT_TRUE(window.replies().empty());
  EXPECT_FALSE(client->state().connected());
  EXPECT_TRUE(notice->closedByClient());
}

TEST_F(ControlConnection, LinkLostPostsOnceAndClosesTheNoticeConnection) {
  connectAndLogin();
  control->close();
  ASSERT_TRUE(waitFor([&] { return window.count(msg::kControlLinkLost) == 1; }));
  EXPECT_FALSE(waitFor([&] { return window.count(msg::kControlLinkLost) > 1; }, 100));
  const auto lost = std::find_if(window.messages.begin(), window.messages.end(),
                                 [](const auto& m) { return m.msg == msg::kControlLinkLost; });
  EXPECT_EQ(lost->wParam, 0u);
  EXPECT_EQ(lost->lParam, 0);
  EXPECT_TRUE(notice->closedByClient());
  EXPECT_EQ(client->requestProductInfo(), 0);
  EXPECT_EQ(client->disconnectControl(), 1);
}

TEST_F(ControlConnection, RefusedConnectIsReportedTwice) {
  ASSERT_EQ(client->connectControl("127.0.0.1", unusedLoopbackPort()), 1);
  ASSERT_TRUE(waitFor([&] { return window.count(msg::kControlConnectResult) == 2; }));
  EXPECT_EQ(window.messages[0].wParam, 0u);
  EXPECT_EQ(window.messages[0].lParam, -1);
  EXPECT_EQ(window.messages[1].wParam, 0u);
  EXPECT_EQ(window.messages[1].lParam, -1);
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

TEST_F(ControlConnection, DestructionWhileBlockedInReceive) {
  connectAndLogin();
  openStream();
  openAudio();
  client.reset();  // every receive thread is blocked in recv
  EXPECT_TRUE(control->closedByClient());
  EXPECT_TRUE(stream->closedByClient());
  EXPECT_TRUE(audio->closedByClient());
}

TEST_F(ControlConnection, DestructionWhileConnectingDoesNotHang) {
  // An address that doesn't answer: the connect stays in SYN_SENT (or fails at once where there
  // is no route). Destruction must abort it instead of waiting for the system's time-out.
  ASSERT_EQ(client->connectControl("10.255.255.1", 9), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const auto start = std::chrono::steady_clock::now();
  client.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
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
