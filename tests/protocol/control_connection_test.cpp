// The control connection against a scripted DVR: the bytes it sends and what it does with what
// it receives.
#include <string>
#include <thread>

#include <condition_variable>

#include "client_fixture.h"
#include "platform/result_codes.h"
#include "protocol/host_resolver.h"

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

TEST_F(ControlConnection, RepliesOfADeletedClientNeverReachTheNextSession) {
  connectAndLogin();
  const uint64_t oldSession = client->session();
  // The UI thread doesn't pump: one refused login waits in the delivery thread's send, two more
  // in the ring.
  for (int i = 0; i < 3; ++i) control->sendMessage(RSP_AUTHRESULT, Bytes{0, 2, 0});
  ASSERT_TRUE(waitUnpumped([&] { return queue.waiting() == 2; }));
  client.reset();
  EXPECT_EQ(queue.waiting(), 0u);
  newClient();
  EXPECT_NE(client->session(), oldSession);
  connectAndLogin();
  control->sendMessage(RSP_INFO07);
  EXPECT_EQ(replyCommands(1), Commands{RSP_INFO07});
  EXPECT_FALSE(moreRepliesThan(1));
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

TEST_F(ControlConnection, DisconnectAndDestructionStopAConnectThatIsStillUnderWay) {
  CFullListener full;
  ASSERT_TRUE(full.full());
  for (bool destroy : {false, true}) {
    SCOPED_TRACE(destroy ? "destructor" : "disconnectControl");
    if (!client) newClient();
    ASSERT_EQ(client->connectControl("127.0.0.1", full.port()), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(client->controlChannel().hasLiveThread());  // still connecting
    const auto start = std::chrono::steady_clock::now();
    if (destroy)
      client.reset();
    else
      EXPECT_EQ(client->disconnectControl(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    if (client) {
      EXPECT_FALSE(client->controlChannel().hasLiveThread());
    }
  }
  EXPECT_FALSE(waitFor([&] { return !window.messages.empty(); }, 100));  // nothing reported
}

TEST_F(ControlConnection, ClosingStopsSubConnectionsThatAreStillConnecting) {
  CFullListener full;
  ASSERT_TRUE(full.full());
  connectAndLogin();
  control->sendMessage(RSP_LIVEOPEN, openReply(1, full.port(), 2, 4));
  control->sendMessage(RSP_AUDIOOPEN, openReply(1, full.port(), 67, 69));
  control->sendMessage(RSP_INFO07);  // a marker: both connections have been started
  ASSERT_EQ(replyCommands(2), (Commands{RSP_LIVEOPEN, RSP_INFO07}));
  CSocketChannel& streamChannel = client->stream().channel();
  CSocketChannel& audioChannel = client->audio().channel();
  ASSERT_TRUE(streamChannel.hasLiveThread() && audioChannel.hasLiveThread());
  EXPECT_FALSE(client->stream().isRunning() || client->audio().isConnected());
  EXPECT_EQ(client->closeAudio(), S_DONE);
  EXPECT_EQ(client->closeStream(), S_DONE);
  EXPECT_FALSE(audioChannel.hasLiveThread());
  EXPECT_FALSE(streamChannel.hasLiveThread());
  EXPECT_FALSE(client->stream().lost());
  EXPECT_FALSE(waitFor([&] { return window.count(msg::kLiveStreamLost) > 0; }, 100));
}

TEST_F(ControlConnection, AnAudioOpenArrivingAfterTheCloseOpensNothing) {
  connectAndLogin();
  EXPECT_EQ(client->requestAudioOpen(), 1);
  EXPECT_EQ(control->readBytes(17), goldenHeader(REQ_AUDIOOPEN, 0));
  EXPECT_EQ(client->closeAudio(), S_DONE);  // the user switched audio off again
  control->sendMessage(RSP_AUDIOOPEN, openReply(1, audioListener.port(), 67, 69));
  control->sendMessage(RSP_INFO07);
  ASSERT_EQ(replyCommands(1), Commands{RSP_INFO07});
  EXPECT_FALSE(audioListener.accept(50));
  // Asked again, the next answer opens it.
  EXPECT_EQ(client->requestAudioOpen(), 1);
  openAudio();
}

TEST_F(ControlConnection, DisconnectLeavesNoConnectionOpenWhateverTheConnectReached) {
  // disconnectControl right after the channel runs: the control thread may be posting 2041 and
  // opening the notice connection at that moment.
  for (int i = 0; i < 20; ++i) {
    newClient();
    ASSERT_EQ(client->connectControl("127.0.0.1", listener.port()), 1);
    auto peer = listener.accept();
    ASSERT_TRUE(peer);
    waitUnpumped([&] { return client->controlChannel().isRunning(); });
    EXPECT_EQ(client->disconnectControl(), 1);
    EXPECT_FALSE(client->controlChannel().hasLiveThread()) << i;
    EXPECT_FALSE(client->notice().channel().hasLiveThread()) << i;
    EXPECT_TRUE(peer->closedByClient());
    while (auto extra = listener.accept(0)) EXPECT_TRUE(extra->closedByClient());
  }
}

// A name lookup the test controls: it answers with `addresses`, once released.
class ControlledLookup {
 public:
  explicit ControlledLookup(std::vector<std::string> addresses, bool released = true)
      : state_(std::make_shared<State>()) {
    state_->addresses = std::move(addresses);
    state_->released = released;
    setHostLookupForTesting([state = state_](const std::string&) {
      std::unique_lock lock(state->mutex);
      ++state->calls;
      state->cv.wait(lock, [&] { return state->released; });
      return state->addresses;
    });
  }
  ~ControlledLookup() {
    release();
    setHostLookupForTesting(nullptr);
  }
  void release() {
    std::lock_guard lock(state_->mutex);
    state_->released = true;
    state_->cv.notify_all();
  }
  int calls() const {
    std::lock_guard lock(state_->mutex);
    return state_->calls;
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<std::string> addresses;
    bool released = false;
    int calls = 0;
  };
  std::shared_ptr<State> state_;
};

TEST_F(ControlConnection, AHostNameIsResolvedOnTheControlThreadAndItsLastAddressUsed) {
  ControlledLookup lookup({"192.0.2.7", "127.0.0.1"});
  EXPECT_EQ(connectAndLogin("dvr.example"), goldenLogin("admin", "secret"));
  EXPECT_EQ(client->state().address(), "127.0.0.1");
  EXPECT_EQ(client->controlChannel().address(), "127.0.0.1");
  openStream();  // the live stream goes to the resolved address too
}

TEST_F(ControlConnection, ANameLookupNeitherBlocksTheCallerNorACloseAndAFailedOneFailsTheConnect) {
  {
    ControlledLookup slow({"127.0.0.1"}, false);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(client->connectControl("slow.example", listener.port()), 1);
    ASSERT_TRUE(waitUnpumped([&] { return slow.calls() == 1; }));
    EXPECT_EQ(client->disconnectControl(), 1);  // abandons the lookup
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_FALSE(client->controlChannel().hasLiveThread());
  }
  EXPECT_FALSE(listener.accept(50));
  ControlledLookup unknown({});
  ASSERT_EQ(client->connectControl("unknown.example", listener.port()), 1);
  ASSERT_TRUE(waitFor([&] { return window.count(msg::kControlConnectResult) == 2; }));
  EXPECT_EQ(window.messages[0].lParam, -1);
  EXPECT_TRUE(client->connectFailed());
}

TEST(HostResolver, DottedAddressesNeedNoLookupAndNamesUseTheSystemResolver) {
  ControlledLookup none({}, false);  // would block for ever if it were asked
  EXPECT_EQ(resolveForConnect("10.1.2.3", [] { return false; }), "10.1.2.3");
  EXPECT_EQ(resolveForConnect("", [] { return false; }), std::nullopt);
  EXPECT_EQ(none.calls(), 0);
  setHostLookupForTesting(nullptr);
  const auto local = lookupIpv4Addresses("localhost");
  EXPECT_NE(std::find(local.begin(), local.end(), "127.0.0.1"), local.end());
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
