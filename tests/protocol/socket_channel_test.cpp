// The socket channel on its own, with a recording owner.
#include "protocol/socket_channel.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <thread>

#include "scripted_peer.h"
#include "test_doubles.h"

namespace {

class CRecordingOwner final : public ISocketOwner {
 public:
  explicit CRecordingOwner(CSocketChannel& channel) : channel_(channel) {}
  void onConnectResult(int error) override {
    lastError = error;
    results++;
  }
  bool channelReceiveStep() override {
    uint8_t byte = 0;
    size_t got = 0;
    if (!channel_.receive(&byte, 1, &got)) return false;
    bytes++;
    if (byte == 'c') closeResult = channel_.close();  // close from the receive thread itself
    if (byte == 's') {                                // a slow step, as a long decode is
      busy = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    return true;
  }
  void onChannelError() override { errors++; }

  std::atomic<int> results{0}, lastError{-1}, bytes{0}, errors{0}, closeResult{-1};
  std::atomic<bool> busy{false};

 private:
  CSocketChannel& channel_;
};

class SocketChannel : public ::testing::Test {
 protected:
  void SetUp() override { channel.setOwner(&owner); }
  void TearDown() override { channel.close(); }
  // Connects to the listener and returns the accepted peer once the channel runs.
  std::unique_ptr<CScriptedPeer> connectPeer() {
    EXPECT_EQ(channel.connect("127.0.0.1", listener.port()), 1);
    auto peer = listener.accept();
    EXPECT_TRUE(peer && waitFor([&] { return channel.isRunning(); }));
    return peer;
  }
  bool threadEnds() {
    return waitFor([&] { return !channel.hasLiveThread(); });
  }
  CScriptedListener listener;
  CSocketChannel channel{ChannelVariant::Notice};
  CRecordingOwner owner{channel};
};

TEST_F(SocketChannel, RefusesBadArguments) {
  EXPECT_EQ(channel.setOwner(nullptr), 0);
  EXPECT_EQ(channel.connect("127.0.0.1", 65536), 0);  // low 16 bits are 0
  EXPECT_EQ(channel.connect("", 80), 0);
  EXPECT_EQ(channel.connect(std::string(260, '1'), 80), 0);
  EXPECT_EQ(channel.close(), 0);  // never connected
  EXPECT_FALSE(channel.send(reinterpret_cast<const uint8_t*>("x"), 1));
  size_t got = 0;
  uint8_t byte;
  EXPECT_FALSE(channel.receive(nullptr, 1, &got));
  EXPECT_FALSE(channel.receive(&byte, 0, &got));
}

TEST_F(SocketChannel, ConnectsAndReportsTheResult) {
  ASSERT_EQ(channel.connect("127.0.0.1", listener.port() + 65536u), 1);  // high bits ignored
  auto peer = listener.accept();
  ASSERT_TRUE(peer);
  ASSERT_TRUE(waitFor([&] { return owner.results == 1; }));
  EXPECT_EQ(owner.lastError, 0);
  EXPECT_TRUE(channel.isRunning());
  EXPECT_EQ(channel.port(), listener.port());
  EXPECT_EQ(channel.address(), "127.0.0.1");
  const uint8_t data[3] = {1, 2, 3};
  size_t accepted = 0;
  EXPECT_TRUE(channel.send(data, 3, &accepted));
  EXPECT_EQ(accepted, 3u);
  EXPECT_EQ(peer->readBytes(3), (Bytes{1, 2, 3}));
}

TEST_F(SocketChannel, RefusedConnectReportsTheErrorAndNoLinkLoss) {
  ASSERT_EQ(channel.connect("127.0.0.1", unusedLoopbackPort()), 1);
  ASSERT_TRUE(waitFor([&] { return owner.results == 1; }));
  EXPECT_EQ(owner.lastError, ECONNREFUSED);
  EXPECT_TRUE(threadEnds());
  EXPECT_EQ(owner.errors, 0);
  EXPECT_EQ(channel.port(), 0);
  EXPECT_EQ(channel.close(), 0);  // the thread has ended by itself
}

TEST_F(SocketChannel, GracefulPeerCloseIsOneError) {
  auto peer = connectPeer();
  peer->send(Bytes{'a', 'b'});
  peer->close();
  ASSERT_TRUE(threadEnds());
  EXPECT_EQ(owner.bytes, 2);
  EXPECT_EQ(owner.errors, 1);
  EXPECT_FALSE(channel.isRunning());
  EXPECT_FALSE(channel.send(reinterpret_cast<const uint8_t*>("x"), 1));
  EXPECT_EQ(owner.errors, 1);
}

TEST_F(SocketChannel, CloseFromTheReceiveThreadReturnsAtOnce) {
  auto peer = connectPeer();
  peer->send(Bytes{'c'});
  ASSERT_TRUE(threadEnds());
  EXPECT_EQ(owner.closeResult, 1);
  EXPECT_EQ(owner.errors, 0);  // a close is not a link loss
  EXPECT_TRUE(peer->closedByClient());
  EXPECT_EQ(channel.close(), 0);
}

TEST_F(SocketChannel, CloseFromAnotherThreadEndsABlockedReceiveAndCanConnectAgain) {
  auto peer = connectPeer();
  EXPECT_EQ(channel.close(), 1);
  EXPECT_FALSE(channel.hasLiveThread());
  EXPECT_EQ(owner.errors, 0);
  EXPECT_TRUE(peer->closedByClient());
  EXPECT_TRUE(connectPeer());
}

TEST_F(SocketChannel, CloseOfABusyThreadRunsNoWindowHandler) {
  // Another thread waits in a send to a window while the receive thread is busy: the close on the
  // UI thread waits for the receive thread only, and the send is handled later by the event loop.
  auto peer = connectPeer();
  CRecordingWindow window;
  peer->send(Bytes{'s'});
  ASSERT_TRUE(waitFor([&] { return owner.busy.load(); }));
  std::thread sender([&] { platform::sendMessage(window.windowId(), msg::kReply, 0, 0); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(channel.close(), 1);
  EXPECT_TRUE(window.messages.empty());
  EXPECT_TRUE(waitFor([&] { return window.messages.size() == 1; }));
  sender.join();
}

TEST_F(SocketChannel, AdoptsAConnectedSocket) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  ASSERT_EQ(channel.adoptConnectedSocket(fds[0]), 1);
  ASSERT_TRUE(waitFor([&] { return owner.results == 1; }));
  ASSERT_EQ(::write(fds[1], "xyz", 3), 3);
  ::close(fds[1]);
  ASSERT_TRUE(threadEnds());
  EXPECT_EQ(owner.bytes, 3);
  EXPECT_EQ(owner.errors, 1);
}

TEST_F(SocketChannel, SendsFromTwoThreadsNeverInterleave) {
  auto peer = connectPeer();
  constexpr size_t kSize = 64 * 1024;
  constexpr int kEach = 8;
  auto sender = [&](uint8_t fill) {
    const Bytes message(kSize, fill);
    for (int i = 0; i < kEach; ++i) channel.send(message.data(), message.size());
  };
  std::thread a(sender, 'A'), b(sender, 'B');
  for (int i = 0; i < 2 * kEach; ++i) {
    const auto message = peer->readBytes(kSize);
    if (!message) {
      ADD_FAILURE() << "message " << i << " never arrived";
      channel.close();  // unblocks the senders so they can be joined
      break;
    }
    EXPECT_EQ(std::count(message->begin(), message->end(), (*message)[0]), long{kSize});
  }
  a.join();
  b.join();
}

}  // namespace
