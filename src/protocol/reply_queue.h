#pragma once
// Carries replies from the connections' receive threads to the main window: each post copies one
// reply into a ring of 100 slots (at most 99 and kMaxHeldBytes of bodies wait at once), and one
// delivery thread sends them to the window as message 4026, in order, one at a time, waiting
// until each has been handled. Every record names the client session it belongs to, so the
// records of a deleted client can be dropped before they reach the window.
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
  uint64_t session = 0;           // CDvrClient::session() of the client whose connection posted it
};

class ReplyQueue {
 public:
  static constexpr uint32_t kSlotCount = 100;
  // Body bytes the queue may hold at once, the one being delivered included.
  static constexpr uint64_t kMaxHeldBytes = 8u * 1024u * 1024u;

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
  // the header's length in bytes and is copied. 1 when queued, 0 when the ring is full, the body
  // would take the queue over kMaxHeldBytes, or the copy can't be allocated.
  int post(int32_t index, const uint8_t* header, const uint8_t* body, uint8_t kind,
           uint64_t session = 0);
  // The same for a parsed header (fields in host order).
  int post(int32_t index, const MessageHeader& header, const uint8_t* body, uint8_t kind,
           uint64_t session = 0);

  // Any thread: drops every waiting record of session, and withdraws the one being delivered
  // when the UI thread hasn't begun to handle it. Order of the others is kept.
  void discardSession(uint64_t session);

  // Records waiting for delivery, and body bytes held (tests).
  uint32_t waiting() const;
  uint64_t heldBytes() const;
  bool running() const { return running_.load(); }

 private:
  struct Slot {
    ReplyRecord record;
    std::unique_ptr<uint8_t[]> body;
  };

  void deliveryLoop();
  bool takeOne(Slot& out);  // mutex_ held

  // Guards every field up to canceller_; taken before the canceller's lock.
  mutable std::mutex mutex_;
  std::condition_variable wakeup_;  // a post or stop
  bool stop_ = false;
  std::array<Slot, kSlotCount> slots_{};
  uint32_t readIndex_ = 0;
  uint32_t writeIndex_ = 0;
  uint64_t heldBytes_ = 0;              // bodies in the ring and the one being delivered
  bool delivering_ = false;             // the delivery thread holds a record
  uint64_t deliveringSession_ = 0;      // ... of this session
  platform::CSendCanceller canceller_;  // withdraws the delivery thread's send

  std::atomic<WindowId> window_{kNoWindow};
  std::atomic<bool> running_{false};
  std::atomic<bool> finished_{true};
  std::thread thread_;  // UI thread only (start, stop, destructor)
};
