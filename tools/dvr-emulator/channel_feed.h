#pragma once
// One camera channel as every viewer sees it: its PTZ camera, its picture source, and the
// frames encoded from it (JPEG frames are encoded once and shared; MPEG-4 viewers encode their
// own stream from the shared pictures, so each starts with a key frame).
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "emulator_config.h"
#include "picture_source.h"
#include "ptz_camera.h"
#include "rgb_image.h"

namespace dvremu {

struct EncodedFrame {
  std::vector<uint8_t> data;
  bool key = true;
  uint64_t number = 0;
};

struct PictureFrame {
  RgbImage image;
  uint64_t number = 0;
};

class ChannelFeed {
 public:
  using Clock = std::chrono::steady_clock;
  ChannelFeed(int channel, const ChannelConfig& config, Clock::time_point epoch,
              std::string* warning);

  int channel() const { return channel_; }
  const ChannelConfig& config() const { return config_; }
  PtzCamera& camera() { return camera_; }

  // The latest picture, rendered afresh once a frame period has passed.
  std::shared_ptr<const PictureFrame> picture(Clock::time_point now);
  // JPEG channels: the latest picture's JPEG, encoded once for every viewer.
  std::shared_ptr<const EncodedFrame> jpegFrame(Clock::time_point now);

  // Pre-encoded channels: the loop encoded at start, served from memory.
  size_t loopLength() const { return loop_.size(); }
  std::shared_ptr<const EncodedFrame> loopFrame(size_t index) const;

 private:
  void renderLocked(Clock::time_point now);  // caller holds mutex_
  void buildLoop();

  const int channel_;
  const ChannelConfig config_;
  const Clock::time_point epoch_;
  PtzCamera camera_;

  std::mutex mutex_;  // guards the source and the cached picture and JPEG; live-stream threads
  std::unique_ptr<PictureSource> source_;
  std::shared_ptr<const PictureFrame> picture_;
  std::shared_ptr<const EncodedFrame> jpeg_;
  Clock::time_point renderedAt_{};
  uint64_t frameNumber_ = 0;

  std::vector<std::shared_ptr<const EncodedFrame>> loop_;  // written once by the constructor
};

// A test card for a source that has nothing to show.
void paintTestCard(int channel, RgbImage& image);

}  // namespace dvremu
