// The reply queue: capacity, order, one record at a time, copies, concurrent producers, stop.
#include <atomic>
#include <thread>

#include <gtest/gtest.h>
#include "platform/messages.h"

#include "protocol/command_codes.h"
#include "protocol/message_header.h"
#include "protocol/reply_queue.h"
#include "test_doubles.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::array<uint8_t, 17> headerFor(uint32_t command, uint32_t length) {
  return MessageHeader::build(command, length);
}

TEST(ReplyQueueTest, HoldsNinetyNineAndDeliversThemInOrderLater) {
  CRecordingWindow window;
  ReplyQueue queue;
  for (uint32_t i = 0; i < 99; ++i) {
    const Bytes body{static_cast<uint8_t>(i), 0xEE};
    ASSERT_EQ(queue.post(0, headerFor(RSP_INFO05 + i, 2).data(), body.data(), 0), 1) << i;
  }
  const Bytes body{1, 2};
  EXPECT_EQ(queue.post(0, headerFor(RSP_INFO05, 2).data(), body.data(), 0), 0);
  EXPECT_EQ(queue.waiting(), 99u);
  ASSERT_EQ(queue.start(window.windowId()), 1);
  ASSERT_TRUE(waitFor([&] { return window.replies().size() == 99; }, 10000));
  const auto replies = window.replies();
  for (uint32_t i = 0; i < 99; ++i) {
    EXPECT_EQ(replies[i].record.command, RSP_INFO05 + i);
    EXPECT_EQ(replies[i].body, (Bytes{static_cast<uint8_t>(i), 0xEE}));
  }
  EXPECT_EQ(queue.waiting(), 0u);
  queue.stop();
}

TEST(ReplyQueueTest, CopiesTheBodyAndConvertsTheHeader) {
  CRecordingWindow window;
  ReplyQueue queue;
  ASSERT_EQ(queue.start(window.windowId()), 1);
  Bytes body{9, 8, 7};
  auto header = headerFor(EVT_NOTICE, 3);
  header[13] = 0x00;
  header[14] = 0x01;
  ASSERT_EQ(queue.post(5, header.data(), body.data(), kReplyFromAudio), 1);
  body.assign(3, 0);  // the queue owns its copy
  ASSERT_EQ(queue.post(6, headerFor(RSP_INFO09, 0).data(), nullptr, kReplyFromStream), 1);
  const Bytes two{4, 2};
  ASSERT_EQ(queue.post(7, MessageHeader{2, RSP_INFO07, 0x00010000}, two.data(), 0), 1);
  ASSERT_TRUE(waitFor([&] { return window.replies().size() == 3; }));
  const auto replies = window.replies();
  EXPECT_EQ(replies[0].record.index, 5);
  EXPECT_EQ(replies[0].record.kind, kReplyFromAudio);
  EXPECT_EQ(replies[0].record.length, 3u);
  EXPECT_EQ(replies[0].record.command, EVT_NOTICE);
  EXPECT_EQ(replies[0].record.subCode, 0x00010001u);
  EXPECT_EQ(replies[0].body, (Bytes{9, 8, 7}));
  EXPECT_TRUE(replies[1].bodyWasNull);
  EXPECT_EQ(replies[1].record.length, 0u);
  EXPECT_EQ(replies[2].record.command, RSP_INFO07);
  EXPECT_EQ(replies[2].record.subCode, 0x00010000u);
  EXPECT_EQ(replies[2].body, two);
  queue.stop();
}

TEST(ReplyQueueTest, DeliversOneRecordAtATime) {
  CRecordingWindow window;
  ReplyQueue queue;
  std::atomic<int> inside{0};
  int overlaps = 0;
  window.onReply = [&](const ReplyRecord&) {
    if (inside.fetch_add(1) != 0) ++overlaps;
    platform::processMessagesUntil([] { return false; }, 2);  // nested event processing
    inside.fetch_sub(1);
  };
  ASSERT_EQ(queue.start(window.windowId()), 1);
  for (int i = 0; i < 20; ++i) queue.post(0, headerFor(RSP_INFO05, 0).data(), nullptr, 0);
  ASSERT_TRUE(waitFor([&] { return window.replies().size() == 20; }));
  EXPECT_EQ(overlaps, 0);
  queue.stop();
}

TEST(ReplyQueueTest, ConcurrentPostsLandInDistinctSlots) {
  CRecordingWindow window;
  ReplyQueue queue;
  ASSERT_EQ(queue.start(window.windowId()), 1);
  constexpr int kThreads = 4;
  constexpr int kEach = 20;
  std::atomic<int> accepted{0};
  std::vector<std::thread> producers;
  for (int t = 0; t < kThreads; ++t) {
    producers.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        const Bytes body{static_cast<uint8_t>(t), static_cast<uint8_t>(i)};
        accepted += queue.post(t, headerFor(RSP_INFO05, 2).data(), body.data(), 0);
      }
    });
  }
  for (auto& p : producers) p.join();
  ASSERT_TRUE(waitFor([&] { return window.replies().size() == static_cast<size_t>(accepted); }));
  EXPECT_EQ(accepted.load(), kThreads * kEach);  // 80 fit in the ring even undelivered
  // Every producer's records arrive, each once and in that producer's order.
  std::vector<int> next(kThreads, 0);
  for (const auto& r : window.replies()) {
    ASSERT_EQ(r.body.size(), 2u);
    EXPECT_EQ(r.body[0], r.record.index);
    EXPECT_EQ(r.body[1], next[r.body[0]]++);
  }
  queue.stop();
}

TEST(ReplyQueueTest, StartRefusesAWindowThatIsGone) {
  ReplyQueue queue;
  WindowId gone = kNoWindow;
  {
    CRecordingWindow window;
    gone = window.windowId();
  }
  EXPECT_EQ(queue.start(gone), 0);
  EXPECT_EQ(queue.start(kNoWindow), 0);
}

TEST(ReplyQueueTest, StopsWhileTheDeliveryThreadWaitsForTheWindow) {
  CRecordingWindow window;
  auto queue = std::make_unique<ReplyQueue>();
  ASSERT_EQ(queue->start(window.windowId()), 1);
  queue->post(0, headerFor(RSP_INFO05, 0).data(), nullptr, 0);
  // The UI thread doesn't pump: the delivery thread is blocked sending 4026. Stopping from the UI
  // thread must still finish, handling that send on the way.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  queue->stop();
  EXPECT_FALSE(queue->running());
  queue.reset();  // records left behind are freed
  EXPECT_LE(window.replies().size(), 1u);
}

TEST(ReplyQueueTest, EndsWhenTheWindowGoesAway) {
  ReplyQueue queue;
  {
    CRecordingWindow window;
    ASSERT_EQ(queue.start(window.windowId()), 1);
  }
  queue.post(0, headerFor(RSP_INFO05, 0).data(), nullptr, 0);
  EXPECT_TRUE(waitFor([&] { return !queue.running(); }));
  queue.stop();
}

}  // namespace
