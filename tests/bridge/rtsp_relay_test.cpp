// The RTSP relay in front of the server, with the test as the server: bytes go through both ways
// unchanged and the server learns who the client is; a client that sends header lines forever
// is refused and costs a bounded amount; a client that doesn't read stops the server's side,
// not the relay's memory; connections close together and are bounded in number; a request that
// doesn't come whole in time closes its connection.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "bridge/rtsp_relay.h"
#include "bridge_fixture.h"

namespace {

using namespace std::chrono_literals;

// Takes the connections the relay hands over.
class CFakeServer {
 public:
  struct Handed {
    int fd = -1;
    std::string ip;
    uint16_t port = 0;
  };
  ~CFakeServer() {
    for (const Handed& h : handed_) ::close(h.fd);
  }
  CRtspRelay::HandOver handOver() {
    return [this](int fd, const std::string& ip, uint16_t port) {
      std::lock_guard lock(mutex_);
      handed_.push_back({fd, ip, port});
      changed_.notify_all();
      return true;
    };
  }
  std::optional<Handed> next() {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, 5s, [&] { return handed_.size() > taken_; })) return {};
    return handed_[taken_++];
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Handed> handed_;
  size_t taken_ = 0;
};

sockaddr_in addressOf(int fd, bool local) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (local)
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  else
    ::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length);
  return address;
}

std::string ipText(const sockaddr_in& address) {
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
  return text;
}

bool sendAll(int fd, const std::string& bytes) {
  size_t at = 0;
  while (at < bytes.size()) {
    const ssize_t sent = ::send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    at += static_cast<size_t>(sent);
  }
  return true;
}

// Reads until `count` bytes came, the peer closed, or the time is up.
std::string receive(int fd, size_t count, std::chrono::milliseconds within = 5000ms) {
  std::string bytes;
  const auto deadline = std::chrono::steady_clock::now() + within;
  char buffer[65536];
  while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    const ssize_t got = ::recv(fd, buffer, std::min(sizeof buffer, count - bytes.size()), 0);
    if (got <= 0) break;
    bytes.append(buffer, static_cast<size_t>(got));
  }
  return bytes;
}

// True when the peer closed (within the time); what came before is dropped.
bool closedByPeer(int fd, std::chrono::milliseconds within = 5000ms) {
  const auto deadline = std::chrono::steady_clock::now() + within;
  char buffer[65536];
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    if (::recv(fd, buffer, sizeof buffer, 0) <= 0) return true;
  }
  return false;
}

std::string pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t n = 0; n < size; ++n) bytes[n] = static_cast<char>((n * 131 + n / 251) & 0xFF);
  return bytes;
}

RtspRelaySettings settingsOn(const char* host) {
  RtspRelaySettings settings;
  settings.address.host = host;
  settings.address.port = 0;
  settings.lingerTime = 1000ms;
  return settings;
}

}  // namespace

TEST(RtspRelay, RelaysBothWaysAndTellsTheServerWhoTheClientIs) {
  CFakeServer server;
  CRtspRelay relay(settingsOn("0.0.0.0"), server.handOver());
  std::string error;
  ASSERT_TRUE(relay.listen(&error)) << error;
  relay.start();
  // A client that sends half a request and then nothing holds up nobody.
  const int slow = connectTo("127.0.0.1", relay.port());
  ASSERT_GE(slow, 0);
  ASSERT_TRUE(sendAll(slow, "OPTI"));
  const auto slowSide = server.next();
  ASSERT_TRUE(slowSide);

  // Through another local address: the server's end carries the address the client used, the
  // hand-over the client's own address and port.
  const int client = connectTo("127.0.0.2", relay.port());
  ASSERT_GE(client, 0);
  const auto side = server.next();
  ASSERT_TRUE(side);
  const sockaddr_in clientLocal = addressOf(client, true);
  EXPECT_EQ(side->ip, ipText(clientLocal));
  EXPECT_EQ(side->port, ntohs(clientLocal.sin_port));
  EXPECT_EQ(ipText(addressOf(side->fd, true)), "127.0.0.2");

  // Requests and interleaved frames reach the server as they were sent; its replies and frames
  // reach the client as they were sent, however large.
  std::string frame = "$";
  frame += '\x01';
  frame += '\xFF';
  frame += '\xFF';
  frame += pattern(65535);
  const std::string toServer =
      "SETUP rtsp://127.0.0.2/channel/1/stream=0 RTSP/1.0\r\nCSeq: 3\r\n\r\n" + frame +
      "PLAY rtsp://127.0.0.2/channel/1/ RTSP/1.0\r\nCSeq: 4\r\n\r\n";
  ASSERT_TRUE(sendAll(client, toServer));
  EXPECT_EQ(receive(side->fd, toServer.size()), toServer);
  const std::string toClient = pattern(3 * 1024 * 1024 + 17);
  std::thread writer([&] { sendAll(side->fd, toClient); });
  EXPECT_EQ(receive(client, toClient.size(), 20000ms), toClient);
  writer.join();
  EXPECT_EQ(receive(slowSide->fd, 4, 100ms), "OPTI");

  // The client is done sending: the server sees the end and still answers.
  ::shutdown(client, SHUT_WR);
  EXPECT_TRUE(closedByPeer(side->fd));
  ASSERT_TRUE(sendAll(side->fd, "RTSP/1.0 200 OK\r\nCSeq: 5\r\n\r\n"));
  ::shutdown(side->fd, SHUT_WR);
  EXPECT_EQ(receive(client, 100), "RTSP/1.0 200 OK\r\nCSeq: 5\r\n\r\n");
  EXPECT_TRUE(closedByPeer(client));
  ::close(client);
  ::close(slow);
  EXPECT_TRUE(closedByPeer(slowSide->fd));
  ::shutdown(slowSide->fd, SHUT_RDWR);
  EXPECT_TRUE(waitUntil([&] { return relay.connections() == 0; }, 5000));
}

TEST(RtspRelay, AnEndlessHeaderStreamIsRefusedAndCostsABoundedAmount) {
  CFakeServer server;
  const RtspRelaySettings settings = settingsOn("127.0.0.1");
  CRtspRelay relay(settings, server.handOver());
  std::string error;
  ASSERT_TRUE(relay.listen(&error)) << error;
  relay.start();
  const int client = connectTo("127.0.0.1", relay.port());
  ASSERT_GE(client, 0);
  const auto side = server.next();
  ASSERT_TRUE(side);

  // Header lines without end, 32 MB of them unless the relay stops them first.
  std::atomic<bool> sending{true};
  std::thread sender([&] {
    ASSERT_TRUE(sendAll(client, "OPTIONS * RTSP/1.0\r\nCSeq: 7\r\n"));
    std::string lines;
    for (int n = 0; n < 1000; ++n) lines += "X-Again: and again and again\r\n";
    for (size_t sent = 0; sent < 32u * 1024 * 1024 && sendAll(client, lines);
         sent += lines.size()) {
    }
    sending = false;
  });
  size_t mostBuffered = 0;
  std::string reached;
  char buffer[65536];
  // What reaches the server, until its end closes.
  while (true) {
    mostBuffered = std::max(mostBuffered, relay.bufferedBytes());
    pollfd p{side->fd, POLLIN, 0};
    if (::poll(&p, 1, 10000) <= 0) break;
    const ssize_t got = ::recv(side->fd, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    reached.append(buffer, static_cast<size_t>(got));
  }
  const std::string reply = receive(client, 200);
  EXPECT_EQ(reply,
            "RTSP/1.0 431 Request Header Fields Too Large\r\nCSeq: 7\r\nConnection: close\r\n\r\n");
  EXPECT_TRUE(closedByPeer(client));
  ::shutdown(client, SHUT_RDWR);
  sender.join();
  EXPECT_LE(reached.size(), settings.limits.maxHeadBytes);
  EXPECT_LE(std::count(reached.begin(), reached.end(), '\n'), 101);
  EXPECT_LE(mostBuffered, settings.toServerBytes + settings.toClientBytes);
  ::close(client);
  EXPECT_TRUE(waitUntil([&] { return relay.connections() == 0; }, 5000));
}

TEST(RtspRelay, AClientThatDoesNotReadStopsTheServersSide) {
  CFakeServer server;
  const RtspRelaySettings settings = settingsOn("127.0.0.1");
  CRtspRelay relay(settings, server.handOver());
  std::string error;
  ASSERT_TRUE(relay.listen(&error)) << error;
  relay.start();
  const int client = connectTo("127.0.0.1", relay.port());
  ASSERT_GE(client, 0);
  const auto side = server.next();
  ASSERT_TRUE(side);
  const std::string stream = pattern(64 * 1024 * 1024);
  std::atomic<bool> written{false};
  std::thread writer([&] {
    sendAll(side->fd, stream);
    written = true;
  });
  // The client reads nothing for a while: the server's writes stop, the relay holds its bound.
  std::this_thread::sleep_for(1500ms);
  EXPECT_FALSE(written.load());
  EXPECT_LE(relay.bufferedBytes(), settings.toClientBytes);
  // Once it reads, everything comes, in order.
  EXPECT_TRUE(receive(client, stream.size(), 60000ms) == stream);
  writer.join();
  ::close(client);
  EXPECT_TRUE(closedByPeer(side->fd));
}

TEST(RtspRelay, ConnectionsCloseTogetherAndAreBoundedInNumber) {
  CFakeServer server;
  RtspRelaySettings settings = settingsOn("127.0.0.1");
  settings.maxConnections = 2;
  CRtspRelay relay(settings, server.handOver());
  std::string error;
  ASSERT_TRUE(relay.listen(&error)) << error;
  relay.start();

  // A taken port: the system's reason.
  RtspRelaySettings same = settings;
  same.address.port = relay.port();
  CRtspRelay second(same, server.handOver());
  EXPECT_FALSE(second.listen(&error));
  EXPECT_NE(error.find("Address already in use"), std::string::npos) << error;

  const int first = connectTo("127.0.0.1", relay.port());
  const int other = connectTo("127.0.0.1", relay.port());
  const auto firstSide = server.next();
  const auto otherSide = server.next();
  ASSERT_TRUE(firstSide && otherSide);
  // A third is closed at once, before the server hears of it.
  const int third = connectTo("127.0.0.1", relay.port());
  EXPECT_TRUE(closedByPeer(third));
  ::close(third);
  // A client that goes takes its server end with it, and the other way round.
  ::close(first);
  EXPECT_TRUE(closedByPeer(firstSide->fd));
  ::shutdown(firstSide->fd, SHUT_RDWR);
  ::shutdown(otherSide->fd, SHUT_RDWR);
  EXPECT_TRUE(closedByPeer(other));
  ::close(other);
  EXPECT_TRUE(waitUntil([&] { return relay.connections() == 0; }, 5000));
  // Places are free again.
  const int again = connectTo("127.0.0.1", relay.port());
  EXPECT_TRUE(server.next().has_value());
  ::close(again);
}

// A client that trickles a request, or connects and says nothing, loses its connection once the
// time for a request is up; one that is quiet between requests, or sends a request slowly but
// whole in time, keeps it.
TEST(RtspRelay, ARequestThatDoesNotComeWholeInTimeIsRefused) {
  CFakeServer server;
  RtspRelaySettings settings = settingsOn("127.0.0.1");
  settings.requestTimeout = 1500ms;
  CRtspRelay relay(settings, server.handOver());
  std::string error;
  ASSERT_TRUE(relay.listen(&error)) << error;
  relay.start();
  // Before the connections: the time for a first request runs from each one's arrival.
  const auto start = std::chrono::steady_clock::now();
  const auto connected = [&] {
    const int fd = connectTo("127.0.0.1", relay.port());
    EXPECT_GE(fd, 0);
    const auto side = server.next();
    EXPECT_TRUE(side);
    return std::make_pair(fd, side ? side->fd : -1);
  };
  const auto [silent, silentSide] = connected();
  const auto [stalled, stalledSide] = connected();
  const auto [trickling, tricklingSide] = connected();
  const auto [patient, patientSide] = connected();

  // The patient client asks once, then waits between requests past the time.
  const std::string options = "OPTIONS * RTSP/1.0\r\nCSeq: 1\r\n\r\n";
  ASSERT_TRUE(sendAll(patient, options));
  EXPECT_EQ(receive(patientSide, options.size()), options);
  // The stalled one sends half a request; the trickling one a byte every 100 ms, never done.
  ASSERT_TRUE(sendAll(stalled, "DESCRIBE rtsp://127.0.0.1/channel/1 RTSP/1.0\r\nCSeq: 9\r\nAcc"));
  std::atomic<bool> trickle{true};
  std::thread trickler([&, fd = trickling] {
    ASSERT_TRUE(sendAll(fd, "OPTIONS * RTSP/1.0\r\nCSeq: 4\r\n"));
    while (trickle.load() && sendAll(fd, "X")) std::this_thread::sleep_for(100ms);
  });

  const std::string timedOut9 =
      "RTSP/1.0 408 Request Timeout\r\nCSeq: 9\r\nConnection: close\r\n\r\n";
  const std::string timedOut4 =
      "RTSP/1.0 408 Request Timeout\r\nCSeq: 4\r\nConnection: close\r\n\r\n";
  EXPECT_EQ(receive(stalled, timedOut9.size(), 10000ms), timedOut9);
  EXPECT_EQ(receive(trickling, timedOut4.size(), 10000ms), timedOut4);
  EXPECT_GE(std::chrono::steady_clock::now() - start, settings.requestTimeout);
  EXPECT_TRUE(closedByPeer(stalled));
  EXPECT_TRUE(closedByPeer(trickling));
  EXPECT_TRUE(closedByPeer(silent));
  trickle = false;
  trickler.join();
  // The server sees each of them go.
  EXPECT_TRUE(closedByPeer(silentSide));
  EXPECT_TRUE(closedByPeer(stalledSide));
  EXPECT_TRUE(closedByPeer(tricklingSide));

  // Well past the time, the patient client still has its connection; a request sent a byte at
  // a time that comes whole in time goes through.
  std::this_thread::sleep_for(settings.requestTimeout);
  const std::string describe = "DESCRIBE rtsp://127.0.0.1/channel/1 RTSP/1.0\r\nCSeq: 2\r\n\r\n";
  for (const char c : describe) {
    ASSERT_TRUE(sendAll(patient, std::string(1, c)));
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(receive(patientSide, describe.size()), describe);
  const std::string reply = "RTSP/1.0 200 OK\r\nCSeq: 2\r\n\r\n";
  ASSERT_TRUE(sendAll(patientSide, reply));
  EXPECT_EQ(receive(patient, reply.size()), reply);
  EXPECT_TRUE(waitUntil([&] { return relay.connections() == 1; }, 5000));
  for (const int fd : {silent, stalled, trickling, patient}) ::close(fd);
  EXPECT_TRUE(closedByPeer(patientSide));
}
