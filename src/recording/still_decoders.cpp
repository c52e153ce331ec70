#include "recording/still_decoders.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

#include <cstring>
#include <memory>

#include "recording/frame_inspect.h"
#include "video/jpeg_decoder.h"

namespace recording {
namespace {

// A damaged header must not make the decoder allocate a huge picture.
constexpr int64_t kMaxPixels = 4096 * 4096;

struct CodecContextDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct ScalerDeleter {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};

QImage toRgbImage(const AVFrame& frame) {
  if (frame.width <= 0 || frame.height <= 0) return {};
  if (static_cast<int64_t>(frame.width) * frame.height > kMaxPixels) return {};
  std::unique_ptr<SwsContext, ScalerDeleter> scaler(sws_getContext(
      frame.width, frame.height, static_cast<AVPixelFormat>(frame.format), frame.width,
      frame.height, AV_PIX_FMT_RGB24, SWS_POINT, nullptr, nullptr, nullptr));
  if (!scaler) return {};
  QImage image(frame.width, frame.height, QImage::Format_RGB888);
  if (image.isNull()) return {};
  uint8_t* planes[4] = {image.bits(), nullptr, nullptr, nullptr};
  const int strides[4] = {static_cast<int>(image.bytesPerLine()), 0, 0, 0};
  sws_scale(scaler.get(), frame.data, frame.linesize, 0, frame.height, planes, strides);
  return image;
}

}  // namespace

QImage decodeJpegStill(uint8_t* jpeg, uint32_t length) {
  CJpegDecoder decoder;
  decoder.setData(jpeg);
  if (!decoder.decode(length) || decoder.picture() == nullptr) return {};
  const int codedWidth = decoder.width();
  const int codedHeight = decoder.height();
  // The decoder rounds up to whole blocks; the picture is the size the image itself states.
  int width = codedWidth;
  int height = codedHeight;
  if (const auto size = jpegPictureSize(jpeg, length);
      size && size->width <= codedWidth && size->height <= codedHeight) {
    width = size->width;
    height = size->height;
  }
  QImage image(width, height, QImage::Format_RGB888);
  if (image.isNull()) return {};
  const uint8_t* bgr = decoder.picture();
  for (int y = 0; y < height; ++y) {
    const uint8_t* in = bgr + static_cast<size_t>(y) * codedWidth * 3;
    uint8_t* out = image.scanLine(y);
    for (int x = 0; x < width; ++x) {
      out[3 * x] = in[3 * x + 2];
      out[3 * x + 1] = in[3 * x + 1];
      out[3 * x + 2] = in[3 * x];
    }
  }
  return image;
}

QImage decodeMpeg4Still(const std::vector<uint8_t>& frames,
                        const std::vector<uint32_t>& frameLengths,
                        const std::vector<uint8_t>& config) {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
  if (codec == nullptr) return {};
  std::unique_ptr<AVCodecContext, CodecContextDeleter> context(avcodec_alloc_context3(codec));
  std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
  std::unique_ptr<AVFrame, FrameDeleter> newest(av_frame_alloc());
  std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
  if (!context || !frame || !newest || !packet) return {};
  context->thread_count = 1;
  if (!config.empty()) {
    context->extradata =
        static_cast<uint8_t*>(av_mallocz(config.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (context->extradata == nullptr) return {};
    std::memcpy(context->extradata, config.data(), config.size());
    context->extradata_size = static_cast<int>(config.size());
  }
  if (avcodec_open2(context.get(), codec, nullptr) != 0) return {};

  bool have = false;
  auto drain = [&] {
    while (avcodec_receive_frame(context.get(), frame.get()) == 0) {
      if (static_cast<int64_t>(frame->width) * frame->height > kMaxPixels) {
        av_frame_unref(frame.get());
        continue;
      }
      av_frame_unref(newest.get());
      av_frame_move_ref(newest.get(), frame.get());
      have = true;
    }
  };
  size_t offset = 0;
  for (const uint32_t length : frameLengths) {
    if (length == 0 || offset + length > frames.size()) break;
    if (av_new_packet(packet.get(), static_cast<int>(length)) != 0) break;  // zeroed padding
    std::memcpy(packet->data, frames.data() + offset, length);
    offset += length;
    const int sent = avcodec_send_packet(context.get(), packet.get());
    av_packet_unref(packet.get());
    if (sent < 0 && sent != AVERROR_INVALIDDATA) break;
    drain();
  }
  avcodec_send_packet(context.get(), nullptr);
  drain();
  return have ? toRgbImage(*newest) : QImage();
}

}  // namespace recording
