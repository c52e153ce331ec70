#include "protocol/live_frame_puller.h"

#include <algorithm>
#include <bit>
#include <vector>

CLiveFramePuller::CLiveFramePuller(IChannelFrameSink& sink) : sink_(sink) {}

CLiveFramePuller::~CLiveFramePuller() {
  stop();
}

bool CLiveFramePuller::start(CStreamConnection& stream) {
  if (thread_.joinable()) return false;
  {
    std::lock_guard lock(mutex_);
    stop_ = false;
    stream_ = &stream;
  }
  thread_ = std::thread([this] { run(); });
  return true;
}

void CLiveFramePuller::stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wakeup_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool CLiveFramePuller::running() const {
  std::lock_guard lock(mutex_);
  return !stop_ && stream_ != nullptr;
}

void CLiveFramePuller::setPulled(uint32_t mask) {
  {
    std::lock_guard lock(mutex_);
    pulled_ = mask & ((1u << kMaxFrameChannels) - 1);
  }
  wakeup_.notify_all();
}

uint32_t CLiveFramePuller::pulled() const {
  std::lock_guard lock(mutex_);
  return pulled_;
}

void CLiveFramePuller::setRateCap(uint8_t channel, double fps) {
  if (channel >= kMaxFrameChannels) return;
  {
    std::lock_guard lock(mutex_);
    ChannelState& state = channels_[channel];
    state.period =
        fps > 0
            ? std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / fps))
            : Clock::duration::zero();
    // A cap lifted or changed applies from the last request on.
    state.nextAllowed = state.sentAt + state.period;
  }
  wakeup_.notify_all();
}

void CLiveFramePuller::setHeld(uint8_t channel, bool held) {
  if (channel >= kMaxFrameChannels) return;
  {
    std::lock_guard lock(mutex_);
    ChannelState& state = channels_[channel];
    if (held) state.heldAt = Clock::now();
    if (state.held == held) return;
    state.held = held;
  }
  if (!held) wakeup_.notify_all();
}

void CLiveFramePuller::setHoldOnDelivery(bool on) {
  std::lock_guard lock(mutex_);
  holdOnDelivery_ = on;
}

void CLiveFramePuller::setStallTimeoutMs(int ms) {
  {
    std::lock_guard lock(mutex_);
    stallTimeout_ = std::chrono::milliseconds(std::max(1, ms));
  }
  wakeup_.notify_all();
}

void CLiveFramePuller::forgetOutstanding() {
  {
    std::lock_guard lock(mutex_);
    for (ChannelState& state : channels_) state.outstanding = false;
  }
  wakeup_.notify_all();
}

void CLiveFramePuller::resetCounters() {
  for (auto& count : requested_) count.store(0);
  for (auto& count : delivered_) count.store(0);
  stalled_.store(0);
}

uint64_t CLiveFramePuller::requested(uint8_t channel) const {
  return channel < kMaxFrameChannels ? requested_[channel].load() : 0;
}

uint64_t CLiveFramePuller::delivered(uint8_t channel) const {
  return channel < kMaxFrameChannels ? delivered_[channel].load() : 0;
}

uint64_t CLiveFramePuller::stalled() const {
  return stalled_.load();
}

void CLiveFramePuller::run() {
  std::vector<uint8_t> due;
  std::unique_lock lock(mutex_);
  while (!stop_) {
    const Clock::time_point now = Clock::now();
    Clock::time_point wakeAt = Clock::time_point::max();
    due.clear();
    for (uint8_t turn = 0; turn < kMaxFrameChannels; ++turn) {
      const auto channel = static_cast<uint8_t>((nextTurn_ + turn) % kMaxFrameChannels);
      ChannelState& state = channels_[channel];
      if (state.outstanding) {
        if (now - state.sentAt < stallTimeout_) {
          wakeAt = std::min(wakeAt, state.sentAt + stallTimeout_);
          continue;
        }
        // The DVR dropped this request (or answered with a failure we couldn't attribute):
        // the channel is asked again rather than left waiting for ever.
        state.outstanding = false;
        stalled_.fetch_add(1);
      }
      if (((pulled_ >> channel) & 1u) == 0) continue;
      if (state.held) {
        const Clock::time_point heldUntil =
            state.heldAt + std::chrono::milliseconds(kHoldTimeoutMs);
        if (now < heldUntil) {
          wakeAt = std::min(wakeAt, heldUntil);
          continue;
        }
        state.held = false;  // never released: asked again rather than left waiting
      }
      if (now < state.nextAllowed) {
        wakeAt = std::min(wakeAt, state.nextAllowed);
        continue;
      }
      state.outstanding = true;
      state.sentAt = now;
      state.nextAllowed = now + state.period;
      due.push_back(channel);
    }
    if (!due.empty()) {
      // The next pass starts after the last channel served, so none is always first.
      nextTurn_ = static_cast<uint8_t>((due.back() + 1) % kMaxFrameChannels);
      CStreamConnection* stream = stream_;
      // Sent without the lock: a send may block while the receive thread delivers an answer.
      lock.unlock();
      for (const uint8_t channel : due) {
        if (stream->requestFrameFor(channel)) requested_[channel].fetch_add(1);
      }
      lock.lock();
      continue;
    }
    if (wakeAt == Clock::time_point::max()) {
      wakeup_.wait(lock);
    } else {
      wakeup_.wait_until(lock, wakeAt);
    }
  }
}

void CLiveFramePuller::onLiveFrameAnswer(uint8_t* frame, uint32_t length, uint16_t frameType) {
  const Clock::time_point arrival = Clock::now();
  uint64_t sequence = 0;
  {
    std::lock_guard lock(mutex_);
    if (frame != nullptr) {
      const uint8_t channel = frame[1];
      channels_[channel].outstanding = false;
      // Only the two codecs there are reach the sink; any other frame still answers its request.
      // Counted before the next request can go out, so delivered never lags requested by two.
      if (((pulled_ >> channel) & 1u) != 0 && frameType <= 1) {
        sequence = delivered_[channel].fetch_add(1) + 1;
        if (holdOnDelivery_) {
          channels_[channel].held = true;
          channels_[channel].heldAt = arrival;
        }
      }
    } else {
      // An answer without a channel is attributed only when it can't be anybody else's; with
      // several requests outstanding the stall timeout frees the one it answered.
      uint32_t outstanding = 0;
      for (uint8_t channel = 0; channel < kMaxFrameChannels; ++channel) {
        if (channels_[channel].outstanding) outstanding |= 1u << channel;
      }
      if (std::popcount(outstanding) == 1) {
        channels_[static_cast<size_t>(std::countr_zero(outstanding))].outstanding = false;
      }
    }
  }
  wakeup_.notify_all();
  if (sequence != 0) deliver(frame, length, frameType, arrival, sequence);
}

void CLiveFramePuller::onLiveData(uint8_t* frame, uint32_t length) {
  const Clock::time_point arrival = Clock::now();
  uint64_t sequence = 0;
  {
    std::lock_guard lock(mutex_);
    if (((pulled_ >> frame[1]) & 1u) != 0) sequence = delivered_[frame[1]].fetch_add(1) + 1;
  }
  // Pushed codec data carries no frame type of its own: it is MPEG-4's.
  if (sequence != 0) deliver(frame, length, 0, arrival, sequence);
}

void CLiveFramePuller::deliver(uint8_t* frame, uint32_t length, uint16_t frameType,
                               Clock::time_point arrival, uint64_t sequence) {
  ChannelFrame out;
  out.channel = frame[1];
  out.frameType = frameType;
  out.data = frame;
  out.length = length;
  out.arrival = arrival;
  out.sequence = sequence;
  sink_.onChannelFrame(out);
}
