#pragma once
// Carries replies from the connections' receive threads to the main window: each post copies one
// reply into a ring of 100 slots (at most 99 wait at once), and one delivery thread sends them to
// the window as message 4026, in order, one at a time, waiting until each has been handled.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/message_window.h"
#include "protocol/message_header.h"

// Source kinds of a reply.
inline constexpr uint8_t kReplyFromControl = 0;  // control or notice connection
inline constexpr uint8_t kReplyFromStream = 1;
inline constexpr uint8_t kReplyFromAudio = 8;

// One reply as the main window sees it (lParam of message 4026). The body belongs to the queue
// and is freed when the handler returns; the window copies what it needs.
struct ReplyRecord {
  int32_t index = 0;
  uint8_t kind = 0;
  uint32_t length = 0;            // host order
  uint32_t command = 0;           // host order
  uint32_t subCode = 0;           // host order
  const uint8_t* body = nullptr;  // length bytes, null when length is 0 or no body was given
};

class ReplyQueue {
 public:
  static constexpr uint32_t kSlotCount = 100;

  ReplyQueue() = default;
  virtual ~ReplyQueue();
  ReplyQueue(const ReplyQueue&) = delete;
  ReplyQueue& operator=(const ReplyQueue&) = delete;

  // Starts the delivery thread towards window. 1 when it runs; 0 for a window that isn't live
  // or when a thread runs already.
  int start(WindowId window);

  // Ends the delivery thread; records still waiting stay in the ring and are not delivered.
  // On the UI thread while the delivery thread waits in its send, that send is withdrawn: no
  // handler runs inside stop(). Not to be called from a 4026 handler.
  void stop();

  // Any thread. header is the 17 received header bytes (network order); body, when given, holds
  // the header's length in bytes and is copied. 1 when queued, 0 when the ring is full or the copy
  // can't be allocated.
  int post(int32_t index, const uint8_t* header, const uint8_t* body, uint8_t kind);
  // The same for a parsed header (fields in host order).
  int post(int32_t index, const MessageHeader& header, const uint8_t* body, uint8_t kind);

  // Records waiting for delivery (tests).
  uint32_t waiting() const;
  bool running() const { return running_.load(); }

 private:
  struct Slot {
    ReplyRecord record;
    std::unique_ptr<uint8_t[]> body;
  };

  void deliveryLoop();
  bool takeOne(Slot& out);  // mutex_ held

  // Guards slots_, readIndex_, writeIndex_ and stop_; taken before the canceller's lock.
  mutable std::mutex mutex_;
  std::condition_variable wakeup_;  // a post or stop
  bool stop_ = false;
  platform::CSendCanceller canceller_;  // withdraws the delivery thread's send
  std::array<Slot, kSlotCount> slots_{};
  uint32_t readIndex_ = 0;
  uint32_t writeIndex_ = 0;

  std::atomic<WindowId> window_{kNoWindow};
  std::atomic<bool> running_{false};
  std::atomic<bool> finished_{true};
  std::thread thread_;  // UI thread only (start, stop, destructor)
};
