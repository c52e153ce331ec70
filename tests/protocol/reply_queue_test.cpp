// The reply queue: capacity, order, one record at a time, copies, concurrent producers, stop.
#include "protocol/reply_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "protocol/command_codes.h"
#include "protocol/message_header.h"
#include "test_doubles.h"

namespace {

class ReplyQueueTest : public ::testing::Test {
 protected:
  void TearDown() override { queue.stop(); }
  int post(uint32_t command, const Bytes& body = {}, int index = 0, uint8_t kind = 0,
           uint64_t session = 1) {
    const auto header = MessageHeader::build(command, static_cast<uint32_t>(body.size()));
    return queue.post(index, header.data(), body.empty() ? nullptr : body.data(), kind, session);
  }
  CRecordingWindow window;
  ReplyQueue queue;
};

TEST_F(ReplyQueueTest, HoldsNinetyNineAndDeliversThemInOrderLater) {
  for (uint32_t i = 0; i < 99; ++i)
    ASSERT_EQ(post(RSP_INFO05 + i, {static_cast<uint8_t>(i), 0xEE}), 1) << i;
  EXPECT_EQ(post(RSP_INFO05, {1, 2}), 0);
  EXPECT_EQ(queue.waiting(), 99u);
  ASSERT_EQ(queue.start(window.windowId()), 1);
  ASSERT_TRUE(waitFor([&] { return window.replies().size() == 99; }, 10000));
  const auto replies = window.replies();
  for (uint32_t i = 0; i < 99; ++i) {
    EXPECT_EQ(replies[i].record.command, RSP_INFO05 + i);
    EXPECT_EQ(replies[i].body, (Bytes{static_cast<uint8_t>(i), 0xEE}));
  }
  EXPECT_EQ(queue.waiting(), 0u);
}

TEST_F(ReplyQueueTest, CopiesTheBodyAndConvertsTheHeader) {
  ASSERT_EQ(queue.start(window.windowId()), 1);
  Bytes body{9, 8, 7};
  auto header = MessageHeader::build(EVT_NOTICE, 3);
  header[13] = 0x00;
  header[14] = 0x01;
  ASSERT_EQ(queue.post(5, header.data(), body.data(), kReplyFromAudio), 1);
  body.assign(3, 0);  // the queue owns its copy
  ASSERT_EQ(post(RSP_INFO09, {}, 6, kReplyFromStream), 1);
  const Bytes two{4, 2};
  ASSERT_EQ(queue.post(7, MessageHeader{2, RSP_INFO07, 0x00010000}, two.data(), 0), 1);
  ASSERT_TRUE(waitFor([&] { return window.replies().size() == 3; }));
  const auto replies = window.replies();
  EXPECT_EQ(fields(replies[0]),
            (ReplyFields{EVT_NOTICE, 0x00010001, kReplyFromAudio, 5, 3, {9, 8, 7}, false}));
  EXPECT_EQ(fields(replies[1]),
            (ReplyFields{RSP_INFO09, RSP_INFO09, kReplyFromStream, 6, 0, {}, true}));
  EXPECT_EQ(fields(replies[2]), (ReplyFields{RSP_INFO07, 0x00010000, 0, 7, 2, two, false}));
}

TEST_F(ReplyQueueTest, DeliversOneRecordAtATime) {
  std::atomic<int> inside{0};
  int overlaps = 0;
  window.onReply = [&](const ReplyRecord&) {
    if (inside.fetch_add(1) != 0) ++overlaps;
    platform::processMessagesUntil([] { return false; }, 2);  // nested event processing
    inside.fetch_sub(1);
  };
  ASSERT_EQ(queue.start(window.windowId()), 1);
  for (int i = 0; i < 20; ++i) post(RSP_INFO05);
  ASSERT_TRUE(waitFor([&] { return window.replies().size() == 20; }));
  EXPECT_EQ(overlaps, 0);
}

TEST_F(ReplyQueueTest, ConcurrentPostsLandInDistinctSlots) {
  ASSERT_EQ(queue.start(window.windowId()), 1);
  constexpr int kThreads = 4, kEach = 20;
  std::atomic<int> accepted{0};
  std::vector<std::thread> producers;
  for (int t = 0; t < kThreads; ++t) {
    producers.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i)
        accepted += post(RSP_INFO05, {static_cast<uint8_t>(t), static_cast<uint8_t>(i)}, t);
    });
  }
  for (auto& p : producers) p.join();
  EXPECT_EQ(accepted.load(), kThreads * kEach);  // 80 fit in the ring even undelivered
  ASSERT_TRUE(waitFor([&] { return window.replies().size() == static_cast<size_t>(accepted); }));
  // Every producer's records arrive, each once and in that producer's order.
  std::vector<int> next(kThreads, 0);
  for (const auto& r : window.replies()) {
    ASSERT_EQ(r.body.size(), 2u);
    EXPECT_EQ(r.body[0], r.record.index);
    EXPECT_EQ(r.body[1], next[r.body[0]]++);
  }
}

TEST_F(ReplyQueueTest, DiscardsTheRecordsOfOneSessionAndKeepsTheOrderOfTheRest) {
  // Wrapping around the end of the ring.
  ASSERT_EQ(queue.start(window.windowId()), 1);
  for (int i = 0; i < 90; ++i) post(RSP_INFO05);
  ASSERT_TRUE(waitFor([&] { return window.replies().size() == 90; }));
  queue.stop();
  for (uint8_t i = 0; i < 20; ++i) ASSERT_EQ(post(RSP_INFO05 + i, {i}, 0, 0, 7 + i % 2), 1);
  queue.discardSession(7);
  EXPECT_EQ(queue.waiting(), 10u);
  EXPECT_EQ(queue.heldBytes(), 10u);
  ASSERT_EQ(queue.start(window.windowId()), 1);
  ASSERT_TRUE(waitFor([&] { return window.replies().size() == 100; }));
  const auto replies = window.replies();
  for (uint8_t i = 0; i < 10; ++i) {
    EXPECT_EQ(replies[90 + i].record.session, 8u);
    EXPECT_EQ(replies[90 + i].body, Bytes{static_cast<uint8_t>(2 * i + 1)});
  }
  EXPECT_FALSE(waitFor([&] { return window.replies().size() > 100; }, 50));
}

TEST_F(ReplyQueueTest, DiscardWithdrawsTheRecordBeingDeliveredOfThatSessionOnly) {
  ASSERT_EQ(queue.start(window.windowId()), 1);
  post(RSP_INFO05, {1}, 0, 0, 3);  // taken at once: waits for the UI thread
  post(RSP_INFO07, {2}, 0, 0, 4);
  ASSERT_TRUE(waitUnpumped([&] { return queue.waiting() == 1; }));
  queue.discardSession(4);
  queue.discardSession(3);
  ASSERT_TRUE(waitUnpumped([&] { return queue.heldBytes() == 0; }));
  post(RSP_INFO09, {3}, 0, 0, 5);
  ASSERT_TRUE(waitFor([&] { return window.replies().size() == 1; }));
  EXPECT_EQ(window.replies()[0].record.command, RSP_INFO09);
}

TEST_F(ReplyQueueTest, CapsTheBodyBytesItHolds) {
  const Bytes mebibyte(1024 * 1024, 0x5A);
  for (int i = 0; i < 8; ++i) ASSERT_EQ(post(RSP_INFO05, mebibyte), 1) << i;
  EXPECT_EQ(post(RSP_INFO05, {1}), 0);
  EXPECT_EQ(post(RSP_INFO05), 1);  // no body: still fits
  EXPECT_EQ(queue.heldBytes(), ReplyQueue::kMaxHeldBytes);
  ASSERT_EQ(queue.start(window.windowId()), 1);
  ASSERT_TRUE(waitFor([&] { return window.replies().size() == 9; }));
  EXPECT_TRUE(waitUnpumped([&] { return queue.heldBytes() == 0; }));
  EXPECT_EQ(post(RSP_INFO05, mebibyte), 1);
}

TEST_F(ReplyQueueTest, StartRefusesAWindowThatIsGone) {
  WindowId gone = CRecordingWindow().windowId();
  EXPECT_EQ(queue.start(gone), 0);
  EXPECT_EQ(queue.start(kNoWindow), 0);
}

TEST_F(ReplyQueueTest, StopsWhileTheDeliveryThreadWaitsForTheWindow) {
  auto owned = std::make_unique<ReplyQueue>();
  ASSERT_EQ(owned->start(window.windowId()), 1);
  owned->post(0, MessageHeader::build(RSP_INFO05, 0).data(), nullptr, 0);
  // The UI thread doesn't pump: the delivery thread is blocked sending 4026. Stopping from the UI
  // thread withdraws that send instead of running the handler inside stop().
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  owned->stop();
  EXPECT_FALSE(owned->running());
  EXPECT_TRUE(window.replies().empty());
  owned.reset();  // records left behind are freed
  EXPECT_FALSE(waitFor([&] { return !window.replies().empty(); }, 50));
}

TEST_F(ReplyQueueTest, EndsWhenTheWindowGoesAway) {
  ASSERT_EQ(queue.start(CRecordingWindow().windowId()), 1);
  post(RSP_INFO05);
  EXPECT_TRUE(waitFor([&] { return !queue.running(); }));
}

}  // namespace
