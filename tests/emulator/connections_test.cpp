// Accepting and closing connections under load: bursts of connects, viewers that stop reading.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
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
