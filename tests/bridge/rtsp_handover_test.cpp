// A channel handed from its last RTSP client to the next: a client that asks at the very moment
// the last one leaves (and the shared media is taken down) still gets its stream, whatever the
// order in which the close and the request reach the bridge.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bridge_fixture.h"

namespace {

int connectTo(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// One reply on an open connection: its headers and the body its Content-Length announces.
std::string readReply(int fd, int timeoutMs) {
  std::string reply;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  char buffer[4096];
  while (std::chrono::steady_clock::now() < deadline) {
    const auto end = reply.find("\r\n\r\n");
    if (end != std::string::npos) {
      const auto field = reply.find("\r\nContent-Length:");
      const size_t length = field != std::string::npos && field < end
                                ? std::strtoul(&reply[field + 17], nullptr, 10)
                                : 0;
      if (reply.size() >= end + 4 + length) break;
    }
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    reply.append(buffer, static_cast<size_t>(got));
  }
  return reply;
}

std::string statusLine(const std::string& reply) {
  return reply.empty() ? "(no reply)" : reply.substr(0, reply.find("\r\n"));
}

}  // namespace

TEST(BridgeRtspHandover, AClientThatAsksAsTheLastOneLeavesGetsTheChannel) {
  CBridgeDvr dvr;
  CBridgeProcess bridge;
  ASSERT_TRUE(bridge.start(bridgeArguments(dvr))) << bridge.log();
  ASSERT_TRUE(waitUntil([&] { return bridgeReady(bridge.port()); }, 20000)) << bridge.log();
  const uint16_t port = bridge.rtspPort();
  const std::string describe =
      "DESCRIBE " + bridge.rtspUrl(1) + " RTSP/1.0\r\nCSeq: 1\r\nAccept: application/sdp\r\n\r\n";

  // A DESCRIBE holds the channel's shared media until its connection closes.
  int holder = connectTo(port);
  ASSERT_GE(holder, 0);
  ::send(holder, describe.data(), describe.size(), MSG_NOSIGNAL);
  ASSERT_EQ(statusLine(readReply(holder, 30000)), "RTSP/1.0 200 OK");

  // Each round the holder leaves as the next client asks: the close before the request, or the
  // request before the close, up to a millisecond apart, so that the two meet at every step of
  // the media's take-down.
  constexpr int kRounds = 50;
  std::vector<std::string> refused;
  for (int round = 0; round < kRounds; ++round) {
    const int next = connectTo(port);
    ASSERT_GE(next, 0);
    const auto apart = std::chrono::microseconds(round / 2 % 6 * 200);
    if (round % 2 == 0) {
      ::close(holder);
      std::this_thread::sleep_for(apart);
      ::send(next, describe.data(), describe.size(), MSG_NOSIGNAL);
    } else {
      ::send(next, describe.data(), describe.size(), MSG_NOSIGNAL);
      std::this_thread::sleep_for(apart);
      ::close(holder);
    }
    const std::string status = statusLine(readReply(next, 30000));
    if (status != "RTSP/1.0 200 OK") refused.push_back(std::to_string(round) + ": " + status);
    holder = next;
  }
  ::close(holder);
  EXPECT_TRUE(refused.empty()) << refused.size() << " of " << kRounds << " refused, first "
                               << refused.front();
  EXPECT_EQ(bridge.terminate(), 0) << bridge.log();
}
