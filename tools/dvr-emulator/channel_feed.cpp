#include "channel_feed.h"

#include <algorithm>

#include "bitmap_text.h"
#include "jpeg_codec.h"
#include "mpeg4_encoder.h"

namespace dvremu {
namespace {
// Pictures of an unpaced channel are refreshed at most this often.
constexpr auto kUnpacedRefresh = std::chrono::milliseconds(40);
}  // namespace

void paintTestCard(int channel, RgbImage& image) {
  static const uint8_t bars[7][3] = {{192, 192, 192}, {192, 192, 0}, {0, 192, 192}, {0, 192, 0},
                                     {192, 0, 192},   {192, 0, 0},   {0, 0, 192}};
  for (int i = 0; i < 7; ++i)
    fillRect(image, i * image.width / 7, 0, image.width / 7 + 1, image.height, bars[i]);
  const uint8_t white[3] = {255, 255, 255};
  const std::string label = std::string("CAM ") + std::to_string(channel + 1) + " NO SIGNAL";
  drawText(image, 10, image.height / 2, label, 3, white);
}

ChannelFeed::ChannelFeed(int channel, const ChannelConfig& config, Clock::time_point epoch,
                         std::string* warning)
    : channel_(channel), config_(config), epoch_(epoch), camera_(channel) {
  source_ = makePictureSource(config.source, channel, config.width, config.height, warning);
  if (config_.preencoded > 0) buildLoop();
}

void ChannelFeed::renderLocked(Clock::time_point now) {
  auto frame = std::make_shared<PictureFrame>();
  frame->image.resize(config_.width, config_.height);
  frame->number = ++frameNumber_;
  const double seconds = std::chrono::duration<double>(now - epoch_).count();
  if (!source_->next(seconds, camera_.position(now), frame->number, frame->image) ||
      frame->image.width != config_.width || frame->image.height != config_.height) {
    frame->image.resize(config_.width, config_.height);
    paintTestCard(channel_, frame->image);
  }
  picture_ = std::move(frame);
  jpeg_.reset();
  renderedAt_ = now;
}

std::shared_ptr<const PictureFrame> ChannelFeed::picture(Clock::time_point now) {
  std::lock_guard lock(mutex_);
  const auto period = config_.fps > 0
                          ? std::chrono::duration_cast<Clock::duration>(
                                std::chrono::duration<double>(1.0 / config_.fps))
                          : std::chrono::duration_cast<Clock::duration>(kUnpacedRefresh);
  if (!picture_ || now - renderedAt_ >= period) renderLocked(now);
  return picture_;
}

std::shared_ptr<const EncodedFrame> ChannelFeed::jpegFrame(Clock::time_point now) {
  auto frame = picture(now);
  std::lock_guard lock(mutex_);
  if (jpeg_ && jpeg_->number == frame->number) return jpeg_;
  auto encoded = std::make_shared<EncodedFrame>();
  encoded->number = frame->number;
  if (!encodeJpeg(frame->image, config_.jpegQuality, &encoded->data)) return nullptr;
  if (picture_ == frame) jpeg_ = encoded;
  return encoded;
}

std::shared_ptr<const EncodedFrame> ChannelFeed::loopFrame(size_t index) const {
  if (loop_.empty()) return nullptr;
  return loop_[index % loop_.size()];
}

void ChannelFeed::buildLoop() {
  const int count = config_.preencoded;
  const double fps = config_.fps > 0 ? config_.fps : 25.0;
  Mpeg4Encoder encoder;
  if (config_.codec == VideoCodec::Mpeg4 &&
      !encoder.open(config_.width, config_.height, static_cast<int>(std::max(1.0, fps)), count)) {
    return;
  }
  RgbImage image;
  for (int i = 0; i < count; ++i) {
    image.resize(config_.width, config_.height);
    const double seconds = i / fps;
    PtzPosition view;
    if (!source_->next(seconds, view, static_cast<uint64_t>(i + 1), image) ||
        image.width != config_.width || image.height != config_.height) {
      image.resize(config_.width, config_.height);
      paintTestCard(channel_, image);
    }
    auto frame = std::make_shared<EncodedFrame>();
    frame->number = static_cast<uint64_t>(i + 1);
    const bool ok = config_.codec == VideoCodec::Jpeg
                        ? encodeJpeg(image, config_.jpegQuality, &frame->data)
                        : encoder.encode(image, &frame->data, &frame->key);
    if (!ok) {
      loop_.clear();
      return;
    }
    loop_.push_back(std::move(frame));
  }
}

}  // namespace dvremu
