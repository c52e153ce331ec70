#pragma once
// Pulls any set of channels over one live-stream connection: at most one REQ_LIVEFRAME
// outstanding per channel, the channels whose request is due served round robin, each channel no
// faster than its rate cap. Frames of pulled channels go to the sink with their channel, codec,
// arrival time and a per-channel sequence number; frames of other channels are dropped.
//
// Threads: the pull thread sends every request. The stream's receive thread reports answers
// (ILiveFrameRouter) and runs the sink. The owner's thread configures, starts and stops.
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "protocol/live_frame_router.h"
#include "protocol/stream_connection.h"

struct ChannelFrame {
  uint8_t channel = 0;            // 0..15, from the frame header
  uint16_t frameType = 0;         // 0 MPEG-4, 1 JPEG, from the answer's prefix
  const uint8_t* data = nullptr;  // the frame header first; valid during the call only
  uint32_t length = 0;
  std::chrono::steady_clock::time_point arrival;
  uint64_t sequence = 0;  // per channel: 1 for the first frame delivered, then one more each
};

class IChannelFrameSink {
 public:
  virtual ~IChannelFrameSink() = default;
  // On the stream's receive thread: keep it short.
  virtual void onChannelFrame(const ChannelFrame& frame) = 0;
};

class CLiveFramePuller final : public ILiveFrameRouter {
 public:
  using Clock = std::chrono::steady_clock;
  // An answer that never comes frees its channel for a new request after this long.
  static constexpr int kDefaultStallTimeoutMs = 3000;

  explicit CLiveFramePuller(IChannelFrameSink& sink);
  ~CLiveFramePuller() override;  // stops the pull thread
  CLiveFramePuller(const CLiveFramePuller&) = delete;
  CLiveFramePuller& operator=(const CLiveFramePuller&) = delete;

  // Starts the pull thread, which requests frames on stream until stop(). The stream must
  // outlive the thread. False while it runs.
  bool start(CStreamConnection& stream);
  // Stops and joins the pull thread; answers still arriving are routed as usual.
  void stop();
  bool running() const;

  // The channels to pull (bit n: channel n). A channel taken out is asked for no more.
  void setPulled(uint32_t mask);
  uint32_t pulled() const;
  // At most fps requests a second for channel; 0 removes the cap.
  void setRateCap(uint8_t channel, double fps);
  // Any thread. A held channel is asked for nothing new until it is released (a request already
  // sent is still answered and routed): the consumer holds a channel while it can't keep up with
  // it, so frames it would throw away are not fetched. A hold nobody releases ends after
  // kHoldTimeoutMs, so a channel is never left waiting for good.
  static constexpr int kHoldTimeoutMs = 1000;
  void setHeld(uint8_t channel, bool held);
  // With it on, every frame routed to the sink holds its channel before the channel can be asked
  // again; the sink releases it (setHeld false) once it can take the next frame.
  void setHoldOnDelivery(bool on);
  void setStallTimeoutMs(int ms);
  // Forgets every outstanding request (a new live stream answers none of them).
  void forgetOutstanding();

  // Zeroes the counters below; sequences start again at 1. Only while no answers are routed.
  void resetCounters();
  // Any thread. Per channel since construction or the last reset.
  uint64_t requested(uint8_t channel) const;
  uint64_t delivered(uint8_t channel) const;
  // Requests given up after the stall timeout, all channels together.
  uint64_t stalled() const;

  void onLiveFrameAnswer(uint8_t* frame, uint32_t length, uint16_t frameType) override;
  void onLiveData(uint8_t* frame, uint32_t length) override;

 private:
  struct ChannelState {
    bool outstanding = false;
    Clock::time_point sentAt{};
    Clock::time_point nextAllowed{};  // the rate cap's earliest next request
    Clock::duration period{};         // zero: no cap
    bool held = false;
    Clock::time_point heldAt{};
  };

  void run();
  void deliver(uint8_t* frame, uint32_t length, uint16_t frameType, Clock::time_point arrival,
               uint64_t sequence);

  IChannelFrameSink& sink_;
  mutable std::mutex mutex_;  // guards every field up to wakeup_
  std::array<ChannelState, kMaxFrameChannels> channels_{};
  uint32_t pulled_ = 0;
  uint8_t nextTurn_ = 0;  // where the next round-robin pass starts
  bool holdOnDelivery_ = false;
  Clock::duration stallTimeout_ = std::chrono::milliseconds(kDefaultStallTimeoutMs);
  bool stop_ = false;
  std::condition_variable wakeup_;
  CStreamConnection* stream_ = nullptr;  // set by start, for the pull thread

  std::array<std::atomic<uint64_t>, kMaxFrameChannels> requested_{};
  std::array<std::atomic<uint64_t>, kMaxFrameChannels> delivered_{};
  std::atomic<uint64_t> stalled_{0};
  std::thread thread_;  // owner's thread only
};
