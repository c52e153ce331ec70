#include "bridge/rtp_jpeg_ffmpeg.h"

#include <algorithm>
#include <cstring>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace rtpjpeg {
namespace {

struct ContextDeleter {
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

bool fail(std::string* error, const char* text) {
  *error = text;
  return false;
}

}  // namespace

void fitWithin(int maxSide, int width, int height, int* fittedWidth, int* fittedHeight) {
  const int longest = std::max(width, height);
  *fittedWidth = width;
  *fittedHeight = height;
  if (longest <= maxSide) return;
  const auto scaled = [&](int side) {
    const int64_t rounded = (int64_t{side} * maxSide + longest / 2) / longest;
    return static_cast<int>(std::clamp<int64_t>(rounded, 1, maxSide));
  };
  *fittedWidth = scaled(width);
  *fittedHeight = scaled(height);
}

bool decodeWithFfmpeg(const uint8_t* data, size_t size, int64_t maxPixels, int maxSide,
                      RgbPicture* out, std::string* error) {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
  if (codec == nullptr) return fail(error, "no FFmpeg JPEG decoder");
  if (size == 0 || size > size_t{1} << 30) return fail(error, "frame size out of range");
  // FFmpeg decodes data that stops early as if the rest were there; a frame cut short ends
  // without its end-of-image marker.
  if (size < 4 || data[size - 2] != 0xFF || data[size - 1] != 0xD9)
    return fail(error, "no end-of-image marker");
  std::unique_ptr<AVCodecContext, ContextDeleter> context(avcodec_alloc_context3(codec));
  std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
  std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
  if (!context || !frame || !packet) return fail(error, "out of memory");
  context->thread_count = 1;
  context->max_pixels = maxPixels;           // refused before the planes are allocated
  context->err_recognition = AV_EF_EXPLODE;  // damaged data fails instead of showing grey
  if (avcodec_open2(context.get(), codec, nullptr) != 0) return fail(error, "decoder won't open");
  if (av_new_packet(packet.get(), static_cast<int>(size)) != 0) return fail(error, "out of memory");
  std::memcpy(packet->data, data, size);  // the packet's padding is zeroed
  if (avcodec_send_packet(context.get(), packet.get()) < 0 ||
      avcodec_send_packet(context.get(), nullptr) < 0 ||
      avcodec_receive_frame(context.get(), frame.get()) != 0)
    return fail(error, "FFmpeg can't decode it either");
  if (frame->width <= 0 || frame->height <= 0 || int64_t{frame->width} * frame->height > maxPixels)
    return fail(error, "decoded picture out of range");

  fitWithin(maxSide, frame->width, frame->height, &out->width, &out->height);
  std::unique_ptr<SwsContext, ScalerDeleter> scaler(sws_getContext(
      frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), out->width,
      out->height, AV_PIX_FMT_RGB24, SWS_AREA, nullptr, nullptr, nullptr));
  if (!scaler) return fail(error, "unsupported picture format");
  out->pixels.resize(static_cast<size_t>(out->width) * out->height * 3);
  uint8_t* planes[4] = {out->pixels.data(), nullptr, nullptr, nullptr};
  int strides[4] = {out->width * 3, 0, 0, 0};
  if (sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, planes, strides) !=
      out->height)
    return fail(error, "scaling failed");
  return true;
}

}  // namespace rtpjpeg
