// How the window survives a DVR that misbehaves: a connect that hangs, a live stream that ends
// on its own, an audio login that comes after audio was switched off.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "app/control_ids.h"
#include "e2e/viewer_fixture.h"
#include "protocol/command_codes.h"
#include "protocol/dvr_client.h"
#include "ui/hover_button.h"

namespace e2e {
namespace {

// A listener that takes connections into its queue and never says a word.
class SilentListener {
 public:
  SilentListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd_, 4);
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~SilentListener() { ::close(fd_); }
  uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

class LifecycleTest : public ViewerTest {};

TEST_F(LifecycleTest, AConnectThatNeverCompletesTimesOut) {
  services.connectTimeoutMs = 800;
  start();
  SilentListener silent;
  connectPort = silent.port();
  pressConnect();
  EXPECT_EQ(window().statusText(), address() + " Connecting...");
  ASSERT_TRUE(waitForStatus(address() + " Connecting timeout.", 3000));
  EXPECT_EQ(window().client(), nullptr);
  EXPECT_TRUE(window().hoverButton(ctl::kConnect)->isVisible());
  connectPort = 0;
  connectAndWait();
  // A connection that completes disarms the timer for good.
  waitFor([] { return false; }, 1000);
  EXPECT_TRUE(window().isConnected());
}

TEST_F(LifecycleTest, ALiveStreamThatEndsOnItsOwnTearsDown) {
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(0));
  command("drop live");
  ASSERT_TRUE(waitForStatus(address() + " Disconnected."));
  EXPECT_EQ(window().client(), nullptr);
  EXPECT_EQ(window().shownChannel(), -1);
  EXPECT_TRUE(window().hoverButton(ctl::kConnect)->isVisible());
  connectAndWait();
  EXPECT_TRUE(showChannel(1));
}

TEST_F(LifecycleTest, AudioSwitchedOffBeforeItsLoginNeverStarts) {
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(0));
  // Switched off right after it was switched on: audio never starts, and an audio connection the
  // DVR's answer may have opened meanwhile is closed again.
  press(ctl::kAudioOn);
  press(ctl::kAudioOff);
  EXPECT_FALSE(window().audioOn());
  waitFor([] { return false; }, 800);
  EXPECT_FALSE(window().client()->audio().isConnected());
  EXPECT_EQ(recorder.count(REQ_AUDIOSTART), 0u);

  // Switched off while the accepted login is on its way to the window: the window hears of the
  // login only after the switch (its thread is busy meanwhile), and must not start audio.
  const auto logins = [&] {
    return std::ranges::count(recorder.requests("audio"), std::string("RSP_AUTHLOGIN"));
  };
  const auto loginsBefore = logins();
  press(ctl::kAudioOn);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (logins() == loginsBefore && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_EQ(logins(), loginsBefore + 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the DVR's RSP_AUTHRESULT
  ASSERT_TRUE(window().client()->audio().isConnected());
  press(ctl::kAudioOff);
  waitFor([] { return false; }, 800);
  EXPECT_EQ(recorder.count(REQ_AUDIOSTART), 0u);
  EXPECT_FALSE(window().client()->audio().isConnected());
  EXPECT_TRUE(window().hoverButton(ctl::kAudioOn)->isVisible());
  // Audio still comes on afterwards.
  press(ctl::kAudioOn);
  EXPECT_TRUE(waitFor([&] { return recorder.count(REQ_AUDIOSELECT) == 1; }));
}

}  // namespace
}  // namespace e2e

namespace e2e {
namespace {

TEST_F(LifecycleTest, ADvrThatGoesSilentIsALostLink) {
  services.linkTimeoutMs = 1000;
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(0));
  command("silent all");
  ASSERT_TRUE(waitForStatus(address() + " Disconnected.", 5000));
  EXPECT_EQ(window().client(), nullptr);
  command("clear-faults");
  connectAndWait();
}

TEST_F(LifecycleTest, AbsurdLengthOnTheControlLinkTearsDown) {
  start();
  connectAndWait();
  command("fault control huge-length");
  press(ctl::kFirstChannel);  // its RSP_LIVESTART announces 0xFFFFFFFF bytes
  EXPECT_TRUE(waitFor([&] { return window().client() == nullptr; }, 5000));
  EXPECT_TRUE(window().hoverButton(ctl::kConnect)->isVisible());
}

}  // namespace
}  // namespace e2e
