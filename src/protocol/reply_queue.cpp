#include "protocol/reply_queue.h"

#include <chrono>
#include <cstring>
#include <new>
#include <system_error>

#include "platform/messages.h"
#include "protocol/byte_order.h"
#include "protocol/message_header.h"

ReplyQueue::~ReplyQueue() {
  stop();
}

int ReplyQueue::start(WindowId window) {
  if (!platform::isWindow(window) || thread_.joinable()) return 0;
  window_ = window;
  {
    std::lock_guard lock(mutex_);
    stop_ = false;
  }
  finished_ = false;
  try {
    thread_ = std::thread(&ReplyQueue::deliveryLoop, this);
  } catch (const std::system_error&) {
    finished_ = true;
    return 0;
  }
  return 1;
}

void ReplyQueue::stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    // The delivery thread may be waiting for the UI thread to handle a reply: withdrawn.
    canceller_.cancel();
  }
  wakeup_.notify_all();
  thread_.join();
  running_ = false;
}

int ReplyQueue::post(int32_t index, const uint8_t* header, const uint8_t* body, uint8_t kind,
                     uint64_t session) {
  if (header == nullptr) return 0;
  const uint32_t length = readBe32(header + 5);
  const uint64_t bytes = body != nullptr ? length : 0;
  if (bytes > kMaxHeldBytes) return 0;
  std::unique_ptr<uint8_t[]> copy;
  if (bytes != 0) {
    // Copied before taking the lock so that a large body never holds up the other threads.
    copy.reset(new (std::nothrow) uint8_t[length]);
    if (!copy) return 0;
    std::memcpy(copy.get(), body, length);
  }
  {
    std::lock_guard lock(mutex_);
    if ((writeIndex_ + 1) % kSlotCount == readIndex_) return 0;
    if (heldBytes_ + bytes > kMaxHeldBytes) return 0;
    Slot& slot = slots_[writeIndex_];
    slot.record.index = index;
    slot.record.kind = kind;
    slot.record.length = length;
    slot.record.command = readBe32(header + 9);
    slot.record.subCode = readBe32(header + 13);
    slot.record.session = session;
    slot.body = std::move(copy);
    slot.record.body = slot.body.get();
    heldBytes_ += bytes;
    writeIndex_ = (writeIndex_ + 1) % kSlotCount;
  }
  wakeup_.notify_one();
  return 1;
}

int ReplyQueue::post(int32_t index, const MessageHeader& header, const uint8_t* body, uint8_t kind,
                     uint64_t session) {
  std::array<uint8_t, MessageHeader::kSize> raw{};
  std::memcpy(raw.data(), MessageHeader::kMagic.data(), MessageHeader::kMagic.size());
  writeBe32(raw.data() + 5, header.length);
  writeBe32(raw.data() + 9, header.command);
  writeBe32(raw.data() + 13, header.subCode);
  return post(index, raw.data(), body, kind, session);
}

void ReplyQueue::discardSession(uint64_t session) {
  std::lock_guard lock(mutex_);
  // Compacts the ring in place, keeping the order of the records that stay.
  uint32_t kept = readIndex_;
  for (uint32_t i = readIndex_; i != writeIndex_; i = (i + 1) % kSlotCount) {
    Slot& slot = slots_[i];
    if (slot.record.session == session) {
      if (slot.body) heldBytes_ -= slot.record.length;
      slot.body.reset();
      slot.record = ReplyRecord{};
      continue;
    }
    if (i != kept) {
      slots_[kept] = std::move(slot);
      slot.record = ReplyRecord{};
    }
    kept = (kept + 1) % kSlotCount;
  }
  writeIndex_ = kept;
  if (delivering_ && deliveringSession_ == session) canceller_.cancel();
}

uint32_t ReplyQueue::waiting() const {
  std::lock_guard lock(mutex_);
  return (writeIndex_ + kSlotCount - readIndex_) % kSlotCount;
}

uint64_t ReplyQueue::heldBytes() const {
  std::lock_guard lock(mutex_);
  return heldBytes_;
}

bool ReplyQueue::takeOne(Slot& out) {
  if (readIndex_ == writeIndex_) return false;
  Slot& slot = slots_[readIndex_];
  out.record = slot.record;
  out.body = std::move(slot.body);
  slot.record = ReplyRecord{};
  readIndex_ = (readIndex_ + 1) % kSlotCount;
  return true;
}

void ReplyQueue::deliveryLoop() {
  running_ = true;
  for (;;) {
    Slot current;
    {
      std::unique_lock lock(mutex_);
      wakeup_.wait(lock, [this] { return stop_ || readIndex_ != writeIndex_; });
      if (stop_) break;
      takeOne(current);
      delivering_ = true;
      deliveringSession_ = current.record.session;
      canceller_.arm();  // under mutex_: a later stop() or discardSession() cancels this send
    }
    const WindowId window = window_.load();
    const bool windowLives = platform::isWindow(window);
    if (windowLives) {
      platform::sendMessage(window, msg::kReply, 0, reinterpret_cast<intptr_t>(&current.record),
                            canceller_);
    }
    {
      std::lock_guard lock(mutex_);
      if (current.body) heldBytes_ -= current.record.length;
      delivering_ = false;
    }
    current.body.reset();
    if (!windowLives) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  running_ = false;
  finished_ = true;
}
