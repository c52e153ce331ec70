// The socket channel on its own, with a recording owner.
#include "protocol/socket_channel.h"

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

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
    return true;
  }
  void onChannelError() override { errors++; }

  std::atomic<int> results{0}, lastError{-1}, bytes{0}, errors{0}, closeResult{-1};

 private:
  CSocketChannel& channel_;
};

struct ChannelUnderTest {
  CSocketChannel channel{ChannelVariant::Notice};
  CRecordingOwner owner{channel};
  ChannelUnderTest() { channel.setOwner(&owner); }
  ~ChannelUnderTest() { channel.close(); }
};

TEST(SocketChannel, RefusesBadArguments) {
  ChannelUnderTest t;
  EXPECT_EQ(t.channel.setOwner(nullptr), 0);
  EXPECT_EQ(t.channel.connect("127.0.0.1", 65536), 0);  // low 16 bits are 0
  EXPECT_EQ(t.channel.connect("", 80), 0);
  EXPECT_EQ(t.channel.connect(std::string(260, '1'), 80), 0);
  EXPECT_EQ(t.channel.close(), 0);  // never connected
  EXPECT_FALSE(t.channel.send(reinterpret_cast<const uint8_t*>("x"), 1));
  size_t got = 0;
  uint8_t byte;
  EXPECT_FALSE(t.channel.receive(nullptr, 1, &got));
  EXPECT_FALSE(t.channel.receive(&byte, 0, &got));
}

TEST(SocketChannel, ConnectsAndReportsTheResult) {
  CScriptedListener listener;
  ChannelUnderTest t;
  ASSERT_EQ(t.channel.connect("127.0.0.1", listener.port() + 65536u), 1);  // high bits ignored
  auto peer = listener.accept();
  ASSERT_TRUE(peer);
  ASSERT_TRUE(waitFor([&] { return t.owner.results == 1; }));
  EXPECT_EQ(t.owner.lastError, 0);
  EXPECT_TRUE(t.channel.isRunning());
  EXPECT_EQ(t.channel.port(), listener.port());
  EXPECT_EQ(t.channel.address(), "127.0.0.1");
  const uint8_t data[3] = {1, 2, 3};
  size_t accepted = 0;
  EXPECT_TRUE(t.channel.send(data, 3, &accepted));
  EXPECT_EQ(accepted, 3u);
  EXPECT_EQ(peer->readBytes(3), (std::vector<uint8_t>{1, 2, 3}));
}

TEST(SocketChannel, RefusedConnectReportsTheErrorAndNoLinkLoss) {
  ChannelUnderTest t;
  ASSERT_EQ(t.channel.connect("127.0.0.1", unusedLoopbackPort()), 1);
  ASSERT_TRUE(waitFor([&] { return t.owner.results == 1; }));
  EXPECT_EQ(t.owner.lastError, ECONNREFUSED);
  EXPECT_TRUE(waitFor([&] { return !t.channel.hasLiveThread(); }));
  EXPECT_EQ(t.owner.errors, 0);
  EXPECT_EQ(t.channel.port(), 0);
  EXPECT_EQ(t.channel.close(), 0);  // the thread has ended by itself
}

TEST(SocketChannel, GracefulPeerCloseIsOneError) {
  CScriptedListener listener;
  ChannelUnderTest t;
  ASSERT_EQ(t.channel.connect("127.0.0.1", listener.port()), 1);
  auto peer = listener.accept();
  ASSERT_TRUE(waitFor([&] { return t.channel.isRunning(); }));
  peer->send(std::vector<uint8_t>{'a', 'b'});
  peer->close();
  ASSERT_TRUE(waitFor([&] { return !t.channel.hasLiveThread(); }));
  EXPECT_EQ(t.owner.bytes, 2);
  EXPECT_EQ(t.owner.errors, 1);
  EXPECT_FALSE(t.channel.isRunning());
  EXPECT_FALSE(t.channel.send(reinterpret_cast<const uint8_t*>("x"), 1));
  EXPECT_EQ(t.owner.errors, 1);
}

TEST(SocketChannel, CloseFromTheReceiveThreadReturnsAtOnce) {
  CScriptedListener listener;
  ChannelUnderTest t;
  ASSERT_EQ(t.channel.connect("127.0.0.1", listener.port()), 1);
  auto peer = listener.accept();
  ASSERT_TRUE(waitFor([&] { return t.channel.isRunning(); }));
  peer->send(std::vector<uint8_t>{'c'});
  ASSERT_TRUE(waitFor([&] { return !t.channel.hasLiveThread(); }));
  EXPECT_EQ(t.owner.closeResult, 1);
  EXPECT_EQ(t.owner.errors, 0);  // a close is not a link loss
  EXPECT_TRUE(peer->closedByClient());
  EXPECT_EQ(t.channel.close(), 0);
}

TEST(SocketChannel, CloseFromAnotherThreadEndsABlockedReceive) {
  CScriptedListener listener;
  ChannelUnderTest t;
  ASSERT_EQ(t.channel.connect("127.0.0.1", listener.port()), 1);
  auto peer = listener.accept();
  ASSERT_TRUE(waitFor([&] { return t.channel.isRunning(); }));
  EXPECT_EQ(t.channel.close(), 1);
  EXPECT_FALSE(t.channel.hasLiveThread());
  EXPECT_EQ(t.owner.errors, 0);
  EXPECT_TRUE(peer->closedByClient());
  // The channel can connect again.
  ASSERT_EQ(t.channel.connect("127.0.0.1", listener.port()), 1);
  EXPECT_TRUE(listener.accept());
}

TEST(SocketChannel, AdoptsAConnectedSocket) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  ChannelUnderTest t;
  ASSERT_EQ(t.channel.adoptConnectedSocket(fds[0]), 1);
  ASSERT_TRUE(waitFor([&] { return t.owner.results == 1; }));
  ASSERT_EQ(::write(fds[1], "xyz", 3), 3);
  ::close(fds[1]);
  ASSERT_TRUE(waitFor([&] { return !t.channel.hasLiveThread(); }));
  EXPECT_EQ(t.owner.bytes, 3);
  EXPECT_EQ(t.owner.errors, 1);
}

TEST(SocketChannel, SendsFromTwoThreadsNeverInterleave) {
  CScriptedListener listener;
  ChannelUnderTest t;
  ASSERT_EQ(t.channel.connect("127.0.0.1", listener.port()), 1);
  auto peer = listener.accept();
  ASSERT_TRUE(waitFor([&] { return t.channel.isRunning(); }));
  constexpr size_t kSize = 64 * 1024;
  constexpr int kEach = 8;
  auto sender = [&](uint8_t fill) {
    const std::vector<uint8_t> message(kSize, fill);
    for (int i = 0; i < kEach; ++i) t.channel.send(message.data(), message.size());
  };
  std::thread a(sender, 'A'), b(sender, 'B');
  for (int i = 0; i < 2 * kEach; ++i) {
    const auto message = peer->readBytes(kSize);
    ASSERT_TRUE(message);
    EXPECT_EQ(std::count(message->begin(), message->end(), (*message)[0]),
              static_cast<long>(kSize));
  }
  a.join();
  b.join();
}

}  // namespace
