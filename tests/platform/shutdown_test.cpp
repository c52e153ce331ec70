// The application object going away while other threads still send and post to a window.
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "platform/message_window.h"

namespace {

class CountingWindow final : public CMessageWindow {
 public:
  int onMessage(uint32_t, uintptr_t, intptr_t) override {
    ++handled;
    return 0;
  }
  std::atomic<int> handled{0};
};

[[noreturn]] void runShutdownWithMessagesInFlight() {
  int argc = 1;
  char name[] = "shutdown";
  char* argv[] = {name, nullptr};
  auto app = std::make_unique<QCoreApplication>(argc, argv);
  auto window = std::make_unique<CountingWindow>();
  const WindowId id = window->windowId();

  std::atomic<bool> stop{false};
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([&, t] {
      while (!stop) {
        if (t % 2 == 0) {
          if (!platform::sendMessage(id, 6000, 0, 0)) break;  // released at shutdown
        } else {
          platform::postMessage(id, 6001, 0, 0);
        }
      }
    });
  }
  platform::processMessagesUntil([&] { return window->handled > 100; }, 5000);
  app.reset();  // senders may be waiting right now; posts may be queued
  stop = true;
  for (auto& worker : workers) worker.join();
  const bool refused =
      !platform::sendMessage(id, 6000, 0, 0) && !platform::postMessage(id, 6001, 0, 0);
  window.reset();
  std::_Exit(refused ? 0 : 3);
}

TEST(MessageWindowDeathTest, ShutdownWithMessagesInFlightNeitherCrashesNorHangs) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  qputenv("PV_TEST_NO_APP", "1");
  EXPECT_EXIT(runShutdownWithMessagesInFlight(), ::testing::ExitedWithCode(0), "");
  qunsetenv("PV_TEST_NO_APP");
}

}  // namespace
