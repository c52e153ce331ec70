// Starting and stopping a client and its connections in every state, and what may reach the
// window afterwards.
#include <thread>

#include "client_fixture.h"
#include "platform/result_codes.h"

namespace {

class Lifecycle : public ClientFixture {};

TEST_F(Lifecycle, RepliesOfADeletedClientNeverReachTheNextSession) {
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

TEST_F(Lifecycle, DestructionWhileBlockedInReceive) {
  connectAndLogin();
  openStream();
  openAudio();
  client.reset();  // every receive thread is blocked in recv
  EXPECT_TRUE(control->closedByClient());
  EXPECT_TRUE(stream->closedByClient());
  EXPECT_TRUE(audio->closedByClient());
}

TEST_F(Lifecycle, DisconnectAndDestructionStopAConnectThatIsStillUnderWay) {
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

TEST_F(Lifecycle, ClosingStopsSubConnectionsThatAreStillConnecting) {
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

TEST_F(Lifecycle, AnAudioOpenArrivingAfterTheCloseOpensNothing) {
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

TEST_F(Lifecycle, DisconnectLeavesNoConnectionOpenWhateverTheConnectReached) {
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

}  // namespace
