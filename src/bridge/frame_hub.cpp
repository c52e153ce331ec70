#include "bridge/frame_hub.h"

void CFrameHub::publish(uint8_t channel, std::vector<uint8_t> jpeg,
                        std::chrono::steady_clock::time_point arrival) {
  if (channel >= kChannels) return;
  Slot& slot = slots_[channel];
  auto picture = std::make_shared<Picture>();
  picture->jpeg = std::move(jpeg);
  picture->arrival = arrival;
  {
    std::lock_guard lock(slot.mutex);
    picture->sequence = ++slot.counters.picturesIn;
    slot.newest = std::move(picture);
  }
  slot.changed.notify_all();
}

PicturePtr CFrameHub::newest(uint8_t channel) const {
  if (channel >= kChannels) return nullptr;
  std::lock_guard lock(slots_[channel].mutex);
  return slots_[channel].newest;
}

PicturePtr CFrameHub::waitNewer(uint8_t channel, uint64_t after,
                                std::chrono::milliseconds timeout) {
  if (channel >= kChannels) return nullptr;
  Slot& slot = slots_[channel];
  std::unique_lock lock(slot.mutex);
  const bool ready = slot.changed.wait_for(lock, timeout, [&] {
    return stopped_.load() || (slot.newest && slot.newest->sequence > after);
  });
  if (!ready || stopped_.load()) return nullptr;
  return slot.newest;
}

void CFrameHub::addClient(uint8_t channel) {
  if (channel >= kChannels) return;
  std::lock_guard lock(slots_[channel].mutex);
  ++slots_[channel].counters.clients;
}

void CFrameHub::removeClient(uint8_t channel, uint64_t lastSent) {
  if (channel >= kChannels) return;
  Slot& slot = slots_[channel];
  std::lock_guard lock(slot.mutex);
  if (slot.counters.clients > 0) --slot.counters.clients;
  if (lastSent != 0 && slot.newest && slot.newest->sequence > lastSent)
    slot.counters.skipped += slot.newest->sequence - lastSent;
}

void CFrameHub::countSent(uint8_t channel, uint64_t lastSent, uint64_t sent) {
  if (channel >= kChannels) return;
  std::lock_guard lock(slots_[channel].mutex);
  ++slots_[channel].counters.picturesOut;
  // A client's first picture skips nothing: it wasn't watching before.
  if (lastSent != 0 && sent > lastSent + 1) slots_[channel].counters.skipped += sent - lastSent - 1;
}

ChannelCounters CFrameHub::counters(uint8_t channel) const {
  if (channel >= kChannels) return {};
  std::lock_guard lock(slots_[channel].mutex);
  return slots_[channel].counters;
}

std::array<int, CFrameHub::kChannels> CFrameHub::clients() const {
  const auto now = std::chrono::steady_clock::now();
  std::array<int, kChannels> result{};
  for (size_t n = 0; n < kChannels; ++n) {
    std::lock_guard lock(slots_[n].mutex);
    const bool recentSnapshot = now - slots_[n].lastSnapshot < kSnapshotWatch;
    result[n] = slots_[n].counters.clients + (recentSnapshot ? 1 : 0);
  }
  return result;
}

void CFrameHub::noteSnapshot(uint8_t channel) {
  if (channel >= kChannels) return;
  std::lock_guard lock(slots_[channel].mutex);
  slots_[channel].lastSnapshot = std::chrono::steady_clock::now();
}

void CFrameHub::stop() {
  stopped_.store(true);
  for (Slot& slot : slots_) {
    { std::lock_guard lock(slot.mutex); }
    slot.changed.notify_all();
  }
}
