#include "platform/message_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/messages.h"

namespace {

// Records every message it gets; answers with wParam * 2 so results can be checked.
class RecordingWindow final : public CMessageWindow {
 public:
  struct Received {
    uint32_t msg;
    uintptr_t wParam;
    intptr_t lParam;
  };

  int onMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
    {
      std::lock_guard lock(mutex);
      received.push_back({msg, wParam, lParam});
    }
    if (onReceive) onReceive(msg, wParam, lParam);
    return static_cast<int>(wParam * 2);
  }

  size_t count() {
    std::lock_guard lock(mutex);
    return received.size();
  }

  std::mutex mutex;
  std::vector<Received> received;
  std::function<void(uint32_t, uintptr_t, intptr_t)> onReceive;
};

constexpr uint32_t kTestMessage = 5000;

TEST(MessageWindow, SendOnUiThreadIsDirectAndReturnsHandlerResult) {
  RecordingWindow window;
  EXPECT_EQ(platform::sendMessage(window.windowId(), kTestMessage, 21, 0), 42);
  EXPECT_EQ(window.count(), 1u);
  EXPECT_FALSE(platform::sendMessage(kNoWindow, kTestMessage, 1, 0).has_value());
}

TEST(MessageWindow, CrossThreadSendBlocksUntilHandledAndReturnsResult) {
  RecordingWindow window;
  std::atomic<bool> returned{false};
  std::optional<int> result;
  std::thread sender([&] {
    result = platform::sendMessage(window.windowId(), kTestMessage, 50, 7);
    returned = true;
  });
  // The UI thread has not run the handler yet, so the sender must still be waiting.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(returned.load());
  EXPECT_EQ(window.count(), 0u);
  ASSERT_TRUE(platform::processMessagesUntil([&] { return returned.load(); }, 5000));
  sender.join();
  EXPECT_EQ(result, 100);
  ASSERT_EQ(window.count(), 1u);
  EXPECT_EQ(window.received[0].lParam, 7);
}

TEST(MessageWindow, PostsFromSeveralThreadsArriveInOrderPerSender) {
  RecordingWindow window;
  constexpr int kThreads = 4;
  constexpr int kPerThread = 500;
  std::vector<std::thread> senders;
  for (int t = 0; t < kThreads; ++t) {
    senders.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i)
        ASSERT_TRUE(platform::postMessage(window.windowId(), kTestMessage, t, i));
    });
  }
  for (auto& sender : senders) sender.join();
  ASSERT_TRUE(platform::processMessagesUntil(
      [&] { return window.count() == kThreads * kPerThread; }, 10000));
  std::map<uintptr_t, intptr_t> next;
  for (const auto& message : window.received) {
    EXPECT_EQ(message.lParam, next[message.wParam]) << "sender " << message.wParam;
    next[message.wParam] = message.lParam + 1;
  }
}

TEST(MessageWindow, WindowDestroyedWhileSenderWaitsReleasesIt) {
  auto window = std::make_unique<RecordingWindow>();
  const WindowId id = window->windowId();
  std::atomic<bool> returned{false};
  std::optional<int> result = 123;
  std::thread sender([&] {
    result = platform::sendMessage(id, kTestMessage, 1, 0);
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  window.reset();  // without handling the queued send
  ASSERT_TRUE(platform::processMessagesUntil([&] { return returned.load(); }, 5000));
  sender.join();
  EXPECT_FALSE(result.has_value());
  EXPECT_FALSE(platform::isWindow(id));
}

TEST(MessageWindow, MessagesToDestroyedWindowsAreRefusedOrDropped) {
  auto window = std::make_unique<RecordingWindow>();
  const WindowId id = window->windowId();
  int delivered = 0;
  window->onReceive = [&](uint32_t, uintptr_t, intptr_t) { ++delivered; };
  EXPECT_TRUE(platform::postMessage(id, kTestMessage, 1, 0));
  window.reset();  // destroyed before the post is delivered
  platform::processMessagesUntil([] { return false; }, 50);
  EXPECT_EQ(delivered, 0);
  EXPECT_FALSE(platform::postMessage(id, kTestMessage, 1, 0));
  EXPECT_FALSE(platform::sendMessage(id, kTestMessage, 1, 0).has_value());

  // A new window never takes over a destroyed window's id.
  RecordingWindow next;
  EXPECT_NE(next.windowId(), id);
}

TEST(MessageWindow, WaitServicingSendsLetsABlockedSenderFinish) {
  RecordingWindow window;
  std::atomic<bool> finished{false};
  std::thread sender([&] {
    platform::sendMessage(window.windowId(), kTestMessage, 3, 0);
    finished = true;
  });
  // Joining straight away would deadlock; waiting while servicing sends must not.
  platform::waitServicingSends([&] { return finished.load(); });
  sender.join();
  EXPECT_EQ(window.count(), 1u);
}

TEST(MessageWindow, CancellerWithdrawsAWaitingSendWithoutRunningItsHandler) {
  RecordingWindow window;
  platform::CSendCanceller canceller;
  std::atomic<int> outcome{0};  // 1 handled, 2 withdrawn
  std::thread sender([&] {
    const auto result = platform::sendMessage(window.windowId(), kTestMessage, 5, 0, canceller);
    outcome = result.has_value() ? 1 : 2;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the send waits for the UI thread
  canceller.cancel();
  sender.join();  // a plain join: nothing is serviced here
  EXPECT_EQ(outcome, 2);
  EXPECT_FALSE(platform::sendMessage(window.windowId(), kTestMessage, 5, 0, canceller));
  platform::processMessagesUntil([] { return false; }, 20);
  EXPECT_EQ(window.count(), 0u);
  // Armed again, sends go through.
  canceller.arm();
  std::thread again([&] {
    outcome = platform::sendMessage(window.windowId(), kTestMessage, 5, 0, canceller) == 10 ? 1 : 2;
  });
  platform::waitServicingSends([&] { return window.count() == 1; });
  again.join();
  EXPECT_EQ(outcome, 1);
}

TEST(MessageWindow, SendFromHandlerOfAnotherWindowIsDirect) {
  RecordingWindow inner;
  RecordingWindow outer;
  std::optional<int> nested;
  outer.onReceive = [&](uint32_t, uintptr_t, intptr_t) {
    nested = platform::sendMessage(inner.windowId(), kTestMessage, 4, 0);
  };
  std::thread sender([&] { platform::sendMessage(outer.windowId(), kTestMessage, 1, 0); });
  platform::waitServicingSends([&] { return outer.count() == 1; });
  sender.join();
  EXPECT_EQ(nested, 8);
}

TEST(MessageWindow, TimerFiresOncePerStartWhenKilledByItsHandler) {
  RecordingWindow window;
  window.onReceive = [&](uint32_t msg, uintptr_t id, intptr_t) {
    if (msg == msg::kTimer) window.killTimer(static_cast<uint32_t>(id));
  };
  ASSERT_TRUE(window.setTimer(400, 10));
  EXPECT_TRUE(window.timerRunning(400));
  platform::processMessagesUntil([] { return false; }, 150);
  ASSERT_EQ(window.count(), 1u);
  EXPECT_EQ(window.received[0].msg, msg::kTimer);
  EXPECT_EQ(window.received[0].wParam, 400u);
  EXPECT_FALSE(window.timerRunning(400));

  ASSERT_TRUE(window.setTimer(400, 10));  // a second start fires once more
  platform::processMessagesUntil([] { return false; }, 150);
  EXPECT_EQ(window.count(), 2u);
}

TEST(MessageWindow, KilledTimerNeverFires) {
  RecordingWindow window;
  ASSERT_TRUE(window.setTimer(100, 20));
  ASSERT_TRUE(window.setTimer(200, 20));
  EXPECT_TRUE(window.killTimer(100));
  EXPECT_FALSE(window.killTimer(100));  // already stopped
  EXPECT_FALSE(window.killTimer(300));  // never started
  platform::processMessagesUntil([&] { return window.count() >= 3; }, 2000);
  window.killTimer(200);
  for (const auto& message : window.received) EXPECT_EQ(message.wParam, 200u);
}

TEST(MessageWindow, TimerOfDestroyedWindowDoesNotFire) {
  auto window = std::make_unique<RecordingWindow>();
  ASSERT_TRUE(window->setTimer(100, 5));
  window.reset();
  platform::processMessagesUntil([] { return false; }, 50);  // must not touch freed memory
  SUCCEED();
}

TEST(MessageWindow, MainWindowIsForgottenWhenDestroyed) {
  auto window = std::make_unique<RecordingWindow>();
  platform::setMainWindow(window->windowId());
  EXPECT_EQ(platform::mainWindow(), window->windowId());
  window.reset();
  EXPECT_EQ(platform::mainWindow(), kNoWindow);
}

}  // namespace
