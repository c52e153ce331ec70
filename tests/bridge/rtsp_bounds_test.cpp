// What an RTSP client may send the bridge, against the program itself: a request with thousands of
// header lines is refused while a real client keeps playing, header lines sent without end don't
// grow the bridge, and clients on another address of the host get that address in the SDP and
// their RTP over UDP and TCP.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "bridge_fixture.h"

namespace {

std::string missingFfmpeg() {
  for (const char* program : {"ffmpeg", "ffprobe"})
    if (!haveProgram(program)) return std::string(program) + " is not installed";
  return {};
}

// The resident memory of a process, in KiB.
long residentKib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

std::string manyHeaderLines(size_t count) {
  std::string lines;
  for (size_t n = 0; n < count; ++n) lines += "X-Line-" + std::to_string(n) + ": more\r\n";
  return lines;
}

}  // namespace

TEST(BridgeRtspBounds, ThousandsOfHeaderLinesAreRefusedWhileAClientPlays) {
  if (const std::string missing = missingFfmpeg(); !missing.empty()) GTEST_SKIP() << missing;
  CBridgeDvr dvr;
  CBridgeProcess bridge;
  ASSERT_TRUE(bridge.start(bridgeArguments(dvr))) << bridge.log();
  ASSERT_TRUE(waitUntil([&] { return bridgeReady(bridge.port()); }, 20000)) << bridge.log();
  const std::string output = "/tmp/pv-rtsp-bounds-" + std::to_string(::getpid());
  // Over TCP, so that its RTCP goes through the relay as interleaved frames all along.
  std::thread player([&] {
    runCommand("timeout 60 ffmpeg -hide_banner -nostdin -loglevel error -rtsp_transport tcp -i " +
               bridge.rtspUrl(1) + " -frames:v 150 -fps_mode vfr -f null - >" + output +
               " 2>&1; echo $? >>" + output);
  });
  ASSERT_TRUE(
      waitUntil([&] { return channelStatus(bridge.port(), 1, "rtsp_clients") == 1; }, 10000));
  const uint16_t port = bridge.rtspPort();
  const std::string refused =
      rtspExchange(port, "OPTIONS * RTSP/1.0\r\nCSeq: 5\r\n" + manyHeaderLines(10000) + "\r\n");
  EXPECT_EQ(refused.rfind("RTSP/1.0 431 Request Header Fields Too Large\r\nCSeq: 5\r\n", 0), 0u)
      << refused.substr(0, 200);
  // One head of 20 KiB in a single line, and a body over the limit.
  const std::string oversized = rtspExchange(
      port, "OPTIONS * RTSP/1.0\r\nCSeq: 6\r\nX-Long: " + std::string(20000, 'a') + "\r\n\r\n");
  EXPECT_EQ(oversized.rfind("RTSP/1.0 431", 0), 0u) << oversized.substr(0, 200);
  const std::string body = rtspExchange(
      port, "SET_PARAMETER * RTSP/1.0\r\nCSeq: 7\r\nContent-Length: 99999999\r\n\r\nx");
  EXPECT_EQ(body.rfind("RTSP/1.0 413 Request Entity Too Large\r\nCSeq: 7\r\n", 0), 0u) << body;

  player.join();
  std::ifstream in(output);
  std::stringstream played;
  played << in.rdbuf();
  std::remove(output.c_str());
  EXPECT_EQ(played.str(), "0\n");  // all its pictures, no error, no timeout
  EXPECT_NE(rtspExchange(port, "OPTIONS * RTSP/1.0\r\nCSeq: 9\r\n\r\n").find("RTSP/1.0 200 OK"),
            std::string::npos);
  EXPECT_EQ(bridge.terminate(), 0) << bridge.log();
}

TEST(BridgeRtspBounds, HeaderLinesWithoutEndDoNotGrowTheBridge) {
  CBridgeDvr dvr;
  CBridgeProcess bridge;
  ASSERT_TRUE(bridge.start(bridgeArguments(dvr))) << bridge.log();
  ASSERT_TRUE(waitUntil([&] { return bridgeReady(bridge.port()); }, 20000)) << bridge.log();
  const long before = residentKib(bridge.pid());
  ASSERT_GT(before, 0);
  // 50 MB of header lines on one request, as fast as the bridge takes them (for 10 s at most).
  const int fd = connectTo("127.0.0.1", bridge.rtspPort());
  ASSERT_GE(fd, 0);
  const std::string start = "OPTIONS * RTSP/1.0\r\nCSeq: 1\r\n";
  ASSERT_EQ(::send(fd, start.data(), start.size(), MSG_NOSIGNAL), ssize_t(start.size()));
  std::string lines;
  while (lines.size() < 64 * 1024) lines += "X-Again: and again and again and again\r\n";
  size_t sent = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (sent < 50u * 1024 * 1024 && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, 3000) <= 0) break;
    const ssize_t wrote = ::send(fd, lines.data(), lines.size(), MSG_NOSIGNAL);
    if (wrote <= 0) break;
    sent += static_cast<size_t>(wrote);
  }
  ::close(fd);
  const long after = residentKib(bridge.pid());
  // Much less than what was sent: the request was refused after its first 16 KiB.
  EXPECT_LT(after - before, 16 * 1024)
      << "sent " << sent << " bytes; " << before << " KiB, then " << after << " KiB";
  EXPECT_TRUE(bridgeReady(bridge.port()));
  EXPECT_EQ(bridge.terminate(), 0) << bridge.log();
}

TEST(BridgeRtspBounds, AClientOnAnotherAddressSeesThatAddressAndPlaysOverUdpAndTcp) {
  if (const std::string missing = missingFfmpeg(); !missing.empty()) GTEST_SKIP() << missing;
  CBridgeDvr dvr;
  CBridgeProcess bridge;
  ASSERT_TRUE(bridge.start(bridgeArguments(dvr, {"--rtsp", "0.0.0.0:0", "--no-auth"})))
      << bridge.log();
  ASSERT_TRUE(waitUntil([&] { return bridgeReady(bridge.port()); }, 20000)) << bridge.log();
  // 127.0.0.2 is this host too; the client's own address is 127.0.0.1.
  const std::string url = "rtsp://127.0.0.2:" + std::to_string(bridge.rtspPort()) + "/channel/1";
  const std::string sdp = rtspExchange(
      bridge.rtspPort(), "DESCRIBE " + url + " RTSP/1.0\r\nCSeq: 2\r\n\r\n", 10000, "127.0.0.2");
  EXPECT_NE(sdp.find("RTSP/1.0 200 OK"), std::string::npos) << sdp;
  EXPECT_NE(sdp.find("Content-Base: " + url + "/\r\n"), std::string::npos) << sdp;
  EXPECT_NE(sdp.find("o=- "), std::string::npos) << sdp;
  EXPECT_NE(sdp.find(" IN IP4 127.0.0.2\r\n"), std::string::npos) << sdp;
  EXPECT_EQ(sdp.find("127.0.0.1"), std::string::npos) << sdp;
  for (const char* transport : {"udp", "tcp"}) {
    const CommandResult played = runCommand(
        std::string("timeout 60 ffmpeg -hide_banner -nostdin -loglevel error ") +
        "-rtsp_transport " + transport + " -i " + url + " -frames:v 50 -fps_mode vfr -f null -");
    EXPECT_EQ(played.status, 0) << transport << ": " << played.output;
    EXPECT_EQ(played.output, "") << transport;
  }
  EXPECT_EQ(bridge.terminate(), 0) << bridge.log();
}
