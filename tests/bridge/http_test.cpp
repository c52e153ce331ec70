// The bridge program against the emulator with real clients: ffmpeg and curl read its streams,
// snapshots and documents; the DVR sees one login and one pull per frame whatever the clients.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include "bridge_fixture.h"
#include "protocol/command_codes.h"

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string tempPath(const std::string& name) {
  return "/tmp/pv-bridge-" + std::to_string(::getpid()) + "-" + name;
}

class BridgeHttp : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bridge_.start(bridgeArguments(dvr_))) << bridge_.log();
    ASSERT_TRUE(waitUntil([&] { return bridgeReady(bridge_.port()); }, 20000)) << bridge_.log();
  }
  void TearDown() override {
    EXPECT_EQ(bridge_.terminate(), 0) << bridge_.log();
    // It logged out: the DVR's login slot is free at once.
    EXPECT_TRUE(dvr_.received(REQ_DISCONNECT));
  }

  CBridgeDvr dvr_;
  CBridgeProcess bridge_;
};

}  // namespace

TEST_F(BridgeHttp, FfmpegDecodesAJpegAndAnMpeg4ChannelWithoutAnError) {
  if (!haveProgram("ffmpeg") || !haveProgram("ffprobe")) GTEST_SKIP() << "ffmpeg is not installed";
  for (const int channel : {1, 2}) {
    const std::string url = bridge_.url("/channels/" + std::to_string(channel) + ".mjpg");
    const CommandResult decoded =
        runCommand("timeout 60 ffmpeg -hide_banner -nostdin -loglevel error -i " + url +
                   " -frames:v 50 -f null -");
    EXPECT_EQ(decoded.status, 0) << channel << ": " << decoded.output;
    EXPECT_EQ(decoded.output, "") << channel;
    const CommandResult probed = runCommand(
        "timeout 60 ffprobe -v error -select_streams v:0 -show_entries "
        "stream=codec_name,width,height "
        "-of csv=p=0 " +
        url);
    EXPECT_EQ(probed.output, "mjpeg,704,480\n") << channel;
  }
}

TEST_F(BridgeHttp, CurlGetsSnapshotsStatusMetricsAndThePage) {
  if (!haveProgram("curl")) GTEST_SKIP() << "curl is not installed";
  const std::string jpegFile = tempPath("1.jpg");
  const std::string mpegFile = tempPath("2.jpg");
  ASSERT_EQ(
      runCommand("curl -sf -m 20 -o " + jpegFile + " " + bridge_.url("/channels/1.jpg")).status, 0);
  ASSERT_EQ(
      runCommand("curl -sf -m 20 -o " + mpegFile + " " + bridge_.url("/channels/2.jpg")).status, 0);
  const std::string jpeg = readFile(jpegFile);
  const std::string transcoded = readFile(mpegFile);
  std::remove(jpegFile.c_str());
  std::remove(mpegFile.c_str());
  ASSERT_GT(jpeg.size(), 1000u);
  ASSERT_GT(transcoded.size(), 1000u);
  EXPECT_EQ(jpeg.substr(0, 2), "\xFF\xD8");
  EXPECT_EQ(transcoded.substr(0, 2), "\xFF\xD8");
  // The JPEG channel's picture is the DVR's own image; only MPEG-4 goes through the encoder.
  EXPECT_EQ(jpeg.find("Lavc"), std::string::npos);

  const CommandResult status = runCommand("curl -sf -m 10 " + bridge_.url("/status.json"));
  EXPECT_NE(status.output.find("\"model\":\"BXF2L3\""), std::string::npos) << status.output;
  EXPECT_NE(status.output.find("{\"channel\":1,\"codec\":\"jpeg\""), std::string::npos);
  EXPECT_NE(status.output.find("{\"channel\":2,\"codec\":\"mpeg4\""), std::string::npos);
  EXPECT_NE(status.output.find("{\"channel\":4,"), std::string::npos);
  EXPECT_EQ(status.output.find("{\"channel\":5,"), std::string::npos);

  const CommandResult metrics = runCommand("curl -sf -m 10 " + bridge_.url("/metrics"));
  EXPECT_NE(metrics.output.find("pelloxview_bridge_connected 1\n"), std::string::npos);
  EXPECT_NE(metrics.output.find("pelloxview_bridge_frames_in_total{channel=\"1\"} "),
            std::string::npos);

  const CommandResult page = runCommand("curl -sf -m 10 " + bridge_.url("/"));
  for (int n = 1; n <= 4; ++n)
    EXPECT_NE(page.output.find("<img src=\"/channels/" + std::to_string(n) + ".mjpg\""),
              std::string::npos)
        << n;
  EXPECT_NE(page.output.find("BXF2L3"), std::string::npos);
  EXPECT_NE(page.output.find("Connected."), std::string::npos);
}

TEST_F(BridgeHttp, ManyClientsCostTheDvrOneLoginAndOnePullPerFrame) {
  if (!haveProgram("curl")) GTEST_SKIP() << "curl is not installed";
  const uint64_t loginsBefore = dvr_.stats().loginsAccepted.load();
  // 20 clients on channel 1 and one on each of the three others, for a few seconds.
  std::string command;
  std::vector<std::string> files;
  for (int i = 0; i < 23; ++i) {
    const int channel = i < 20 ? 1 : i - 18;
    files.push_back(tempPath("load" + std::to_string(i)));
    command += "curl -s -m 6 -o " + files.back() + " " +
               bridge_.url("/channels/" + std::to_string(channel) + ".mjpg") + " & ";
  }
  runCommand(command + "wait");
  for (const std::string& file : files) {
    EXPECT_GT(countParts(readFile(file)), 20) << file;
    std::remove(file.c_str());
  }
  EXPECT_EQ(dvr_.stats().loginsAccepted.load(), loginsBefore);
  EXPECT_EQ(dvr_.connections(dvremu::ConnectionKind::Control), 1);
  EXPECT_EQ(dvr_.connections(dvremu::ConnectionKind::Live), 1);
  for (int channel = 1; channel <= 4; ++channel) {
    const auto served = static_cast<double>(dvr_.stats().channelFrames[channel - 1].load());
    const auto requested = static_cast<double>(dvr_.stats().channelRequests[channel - 1].load());
    const double in = channelStatus(bridge_.port(), channel, "frames_in");
    EXPECT_GT(served, 50) << channel;
    // One request per frame, each frame taken in once (however many clients watch it); a
    // frame may be on its way.
    EXPECT_LE(requested, served + 2) << channel;
    if (channel != 2) {  // MPEG-4 starts at a key frame
      EXPECT_NEAR(in, served, 2) << channel;
    }
  }
}

TEST_F(BridgeHttp, AClientThatStopsReadingDoesNotSlowTheOthers) {
  if (!haveProgram("curl")) GTEST_SKIP() << "curl is not installed";
  // A client that asks for the stream and then reads nothing: its socket fills up and stays full.
  const int stalledSocket = [&] {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(bridge_.port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    const std::string request = "GET /channels/1.mjpg HTTP/1.1\r\nHost: x\r\n\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    return fd;
  }();
  std::this_thread::sleep_for(std::chrono::seconds(2));  // its buffers are full by now

  const double inBefore = channelStatus(bridge_.port(), 1, "frames_in");
  std::string command;
  std::vector<std::string> files;
  for (int i = 0; i < 3; ++i) {
    files.push_back(tempPath("steady" + std::to_string(i)));
    command += "curl -s -m 5 -o " + files.back() + " " + bridge_.url("/channels/1.mjpg") + " & ";
  }
  runCommand(command + "wait");
  const double received = channelStatus(bridge_.port(), 1, "frames_in") - inBefore;
  ASSERT_GT(received, 50);
  for (const std::string& file : files) {
    // Every steady client got (within 10 %) every picture the bridge took in meanwhile.
    EXPECT_GE(countParts(readFile(file)), 0.9 * received) << file;
    std::remove(file.c_str());
  }
  // The stalled client is still there: it was held up alone, not dropped.
  EXPECT_TRUE(waitUntil([&] { return channelStatus(bridge_.port(), 1, "clients") == 1; }, 5000));
  ::close(stalledSocket);
}

TEST_F(BridgeHttp, AClientKeepsItsStreamWhileTheBridgeConnectsAgain) {
  // A client reading its stream through a dropped DVR connection.
  std::atomic<bool> stop{false};
  std::atomic<int> parts{0};
  std::thread reader([&] {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(bridge_.port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    const std::string request = "GET /channels/3.mjpg HTTP/1.1\r\nHost: x\r\n\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    timeval timeout{0, 200000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::string window;
    char buffer[16384];
    while (!stop.load()) {
      const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
      if (got == 0) break;
      if (got < 0) continue;
      window.append(buffer, static_cast<size_t>(got));
      parts += countParts(window);
      // Keep a tail long enough to hold a boundary split across reads.
      const auto last = window.rfind("--pelloxframe\r\n");
      window = last == std::string::npos
                   ? window.substr(window.size() > 32 ? window.size() - 32 : 0)
                   : window.substr(last + 1);
    }
    ::close(fd);
  });
  ASSERT_TRUE(waitUntil([&] { return parts.load() > 10; }, 10000));
  dvr_.command("drop all");
  ASSERT_TRUE(waitUntil(
      [&] {
        return httpGet(bridge_.port(), "/status.json").body.find("\"sessions\":2") !=
               std::string::npos;
      },
      20000))
      << bridge_.log();
  const int before = parts.load();
  EXPECT_TRUE(waitUntil([&] { return parts.load() > before + 10; }, 10000));
  stop = true;
  reader.join();
}

TEST_F(BridgeHttp, AClientPollingSnapshotsKeepsItsChannelPulled) {
  // A page or dashboard that fetches /N.jpg again and again, never holding a stream: each
  // snapshot must be current, not a picture left over from before the grace ran out.
  std::string previous;
  int sameInARow = 0;
  int longestSame = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < end) {
    const HttpReply reply = httpGet(bridge_.port(), "/channels/3.jpg");
    ASSERT_EQ(reply.status, 200);
    sameInARow = reply.body == previous ? sameInARow + 1 : 0;
    longestSame = std::max(longestSame, sameInARow);
    previous = reply.body;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  // 25 pictures a second: two polls 100 ms apart may meet the same one, never five.
  EXPECT_LT(longestSame, 5);
  EXPECT_GT(channelStatus(bridge_.port(), 3, "frames_in"), 80);
}
