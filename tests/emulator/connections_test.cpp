// Accepting and closing connections under load: bursts of connects, viewers that stop reading.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <system_error>
#include <thread>

#include "protocol/command_codes.h"
#include "scripted_viewer.h"

using namespace emutest;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(emulatorConnections, ABurstOfConnectsIsAcceptedWithoutListenOverflow) {
  RunningEmulator dvr;
  constexpr int kViewers = 200;
  std::vector<std::unique_ptr<ScriptedConnection>> viewers;
  auto slowest = Clock::duration::zero();
  for (int i = 0; i < kViewers; ++i) {
    const auto begin = Clock::now();
    viewers.push_back(std::make_unique<ScriptedConnection>(dvr.port()));
    slowest = std::max(slowest, Clock::now() - begin);
  }
  // A connect that met a full accept queue waits for a SYN retransmission: a second or more.
  EXPECT_LT(slowest, 500ms);
  int asked = 0;
  for (auto& viewer : viewers) {
    const auto request = viewer->receive(5000);
    if (request && request->header.command == REQ_AUTHLOGIN) ++asked;
  }
  EXPECT_EQ(asked, kViewers);
}

TEST(emulatorConnections, DropDoesNotWaitForAViewerThatStoppedReading) {
  RunningEmulator dvr(RunningEmulator::configWith({"--fps", "0", "--preencode", "2"}));
  auto session = prepareSession(dvr.port());
  ASSERT_TRUE(session.live);
  session.control->request(REQ_LIVESTART, maskBody(1, 20), RSP_LIVESTART);
  // Far more frames than the socket buffers hold; the emulator's send blocks.
  for (int i = 0; i < 1000; ++i) session.live->send(REQ_LIVEFRAME, liveFrameRequest(0));
  std::this_thread::sleep_for(1s);
  auto dropped = std::async(std::launch::async, [&dvr] { return dvr.command("drop live"); });
  const bool answered = dropped.wait_for(3s) == std::future_status::ready;
  EXPECT_TRUE(answered);
  if (!answered) session.live.reset();  // unblocks the send, so the test can end
  EXPECT_NE(dropped.get().find("dropped 1"), std::string::npos);
  EXPECT_TRUE(session.control->request(REQ_INFOPRODUCTINFO, {}, RSP_INFOPRODUCTINFO).has_value());
}

TEST(emulatorConnections, ConnectionsOverTheCapAreClosedAndRoomComesBack) {
  RunningEmulator dvr(RunningEmulator::configWith({"--max-connections", "3"}));
  std::vector<std::unique_ptr<ScriptedConnection>> held;
  for (int i = 0; i < 3; ++i) {
    held.push_back(std::make_unique<ScriptedConnection>(dvr.port()));
    const auto request = held.back()->receive();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->header.command, REQ_AUTHLOGIN);
  }
  ScriptedConnection over(dvr.port());
  EXPECT_TRUE(over.closedByPeer(3000));
  const std::string stats = dvr.command("stats");
  EXPECT_NE(stats.find("connections-refused 1\n"), std::string::npos) << stats;
  // A connection that ends makes room for the next one.
  held.pop_back();
  bool served = false;
  for (int attempt = 0; attempt < 40 && !served; ++attempt) {
    ScriptedConnection again(dvr.port());
    const auto request = again.receive(500);
    served = request && request->header.command == REQ_AUTHLOGIN;
    if (!served) std::this_thread::sleep_for(50ms);
  }
  EXPECT_TRUE(served);
}

TEST(emulatorConnections, AConnectionThatNeverLogsInIsClosedAfterTheLoginTimeout) {
  RunningEmulator dvr(RunningEmulator::configWith({"--login-timeout", "0.5"}));
  ScriptedConnection idle(dvr.port());
  ASSERT_TRUE(idle.receive());  // REQ_AUTHLOGIN, never answered
  ScriptedConnection chatty(dvr.port());
  ASSERT_TRUE(chatty.receive());
  // Messages other than the login answer don't keep a connection alive either.
  for (int i = 0; i < 4; ++i) {
    chatty.send(REQ_INFOPRODUCTINFO);
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_TRUE(idle.closedByPeer(3000));
  EXPECT_TRUE(chatty.closedByPeer(3000));
  EXPECT_NE(dvr.command("stats").find("login-timeouts 2\n"), std::string::npos);
  ScriptedConnection prompt(dvr.port());
  EXPECT_EQ(prompt.login("demo", "demo"), 1);
  EXPECT_FALSE(prompt.closedByPeer(1000));  // a logged-in session is not timed out
  // The time starts when the login request is out, not while a stall holds it back.
  dvr.command("fault control stall 1 login");
  ScriptedConnection stalled(dvr.port());
  EXPECT_EQ(stalled.login("demo", "demo"), 1);
}

TEST(emulatorConnections, NoThreadForAConnectionClosesItAndTheDvrGoesOn) {
  dvremu::DvrEmulator dvr(RunningEmulator::testConfig());
  dvr.core().log().setQuiet(true);
  std::atomic<int> calls{0};
  dvr.setThreadStarter([&calls](std::function<void()> work) {
    if (calls.fetch_add(1) == 0)
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    return std::thread(std::move(work));
  });
  std::string error;
  ASSERT_TRUE(dvr.start(&error)) << error;
  ScriptedConnection unlucky(dvr.port());
  EXPECT_TRUE(unlucky.closedByPeer(3000));
  ScriptedConnection next(dvr.port());
  EXPECT_EQ(next.login("demo", "demo"), 1);
  EXPECT_NE(dvr.execute("stats").find("connections-refused 1\n"), std::string::npos);
  dvr.stop();
}
