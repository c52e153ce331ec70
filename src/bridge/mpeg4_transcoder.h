#pragma once
// MPEG-4 Part 2 channels as JPEG pictures: every coded frame of a channel is decoded with FFmpeg
// (one decoder context per channel) and each picture encoded to JPEG once, for all clients, on a
// worker thread of its own so that the live-stream thread only queues. A channel whose queue
// overflows drops its queue and waits for the next intra picture, so a slow machine shows fewer
// pictures, never broken ones.
#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "bridge/frame_hub.h"

class CMpeg4Transcoder {
 public:
  static constexpr size_t kMaxQueued = 12;  // coded frames per channel

  explicit CMpeg4Transcoder(CFrameHub& hub);
  ~CMpeg4Transcoder();  // stops and joins the worker
  CMpeg4Transcoder(const CMpeg4Transcoder&) = delete;
  CMpeg4Transcoder& operator=(const CMpeg4Transcoder&) = delete;

  // Any thread: coded data of one frame (after the frame header).
  void queue(uint8_t channel, const uint8_t* coded, size_t length,
             std::chrono::steady_clock::time_point arrival);
  // The channel's next frames start a new stream (the channel was stopped and started again).
  void restart(uint8_t channel);

  uint64_t dropped(uint8_t channel) const;

  // True when coded holds an intra-coded picture (the first VOP's coding type is I).
  static bool startsWithIntra(const uint8_t* coded, size_t length);

 private:
  struct Coded {
    std::vector<uint8_t> data;
    std::chrono::steady_clock::time_point arrival;
  };
  struct Codecs;
  struct Channel {
    std::deque<Coded> queue;
    bool waitForIntra = true;
    bool restart = false;
    uint64_t dropped = 0;
  };

  void run();
  void transcode(uint8_t channel, const Coded& coded, bool restart);

  CFrameHub& hub_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::array<Channel, CFrameHub::kChannels> channels_;
  std::array<std::unique_ptr<Codecs>, CFrameHub::kChannels> codecs_;  // worker thread only
  std::thread worker_;
};
