#include "mpeg4_encoder.h"

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace dvremu {

struct Mpeg4Encoder::State {
  AVCodecContext* context = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  SwsContext* scaler = nullptr;
  std::vector<uint8_t> configuration;  // 00 00 01 01 followed by the VOL header
  int64_t pts = 0;

  ~State() {
    sws_freeContext(scaler);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&context);
  }
};

Mpeg4Encoder::Mpeg4Encoder() = default;
Mpeg4Encoder::~Mpeg4Encoder() = default;

bool Mpeg4Encoder::open(int width, int height, int fps, int gop) {
  auto state = std::make_unique<State>();
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
  if (codec == nullptr) return false;
  state->context = avcodec_alloc_context3(codec);
  if (state->context == nullptr) return false;
  AVCodecContext* c = state->context;
  c->width = width;
  c->height = height;
  c->time_base = AVRational{1, std::clamp(fps, 1, 1000)};
  c->framerate = AVRational{std::clamp(fps, 1, 1000), 1};
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  c->gop_size = std::max(1, gop);
  c->max_b_frames = 0;
  c->bit_rate = 1'500'000;
  c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER | AV_CODEC_FLAG_BITEXACT;
  c->thread_count = 1;
  if (avcodec_open2(c, codec, nullptr) < 0) return false;

  // The configuration that leads each key frame: the video object start code 00 00 01 01 and
  // the VOL header from the encoder's global header (the visual object headers before it are
  // left out).
  const uint8_t* extra = c->extradata;
  const int extraSize = c->extradata_size;
  int vol = -1;
  for (int i = 0; extra != nullptr && i + 3 < extraSize; ++i) {
    if (extra[i] == 0 && extra[i + 1] == 0 && extra[i + 2] == 1 && (extra[i + 3] & 0xF0) == 0x20) {
      vol = i;
      break;
    }
  }
  if (vol < 0) return false;
  state->configuration = {0x00, 0x00, 0x01, 0x01};
  state->configuration.insert(state->configuration.end(), extra + vol, extra + extraSize);

  state->frame = av_frame_alloc();
  state->packet = av_packet_alloc();
  if (state->frame == nullptr || state->packet == nullptr) return false;
  state->frame->format = c->pix_fmt;
  state->frame->width = width;
  state->frame->height = height;
  if (av_frame_get_buffer(state->frame, 0) < 0) return false;
  state->scaler = sws_getContext(width, height, AV_PIX_FMT_RGB24, width, height, AV_PIX_FMT_YUV420P,
                                 SWS_POINT, nullptr, nullptr, nullptr);
  if (state->scaler == nullptr) return false;
  state_ = std::move(state);
  return true;
}

bool Mpeg4Encoder::encode(const RgbImage& image, std::vector<uint8_t>* out, bool* keyFrame) {
  out->clear();
  if (!state_ || image.width != state_->context->width || image.height != state_->context->height)
    return false;
  if (av_frame_make_writable(state_->frame) < 0) return false;
  const uint8_t* source[1] = {image.pixels.data()};
  const int stride[1] = {image.width * 3};
  sws_scale(state_->scaler, source, stride, 0, image.height, state_->frame->data,
            state_->frame->linesize);
  state_->frame->pts = state_->pts++;
  if (avcodec_send_frame(state_->context, state_->frame) < 0) return false;
  if (avcodec_receive_packet(state_->context, state_->packet) < 0) return false;
  *keyFrame = (state_->packet->flags & AV_PKT_FLAG_KEY) != 0;
  if (*keyFrame) out->assign(state_->configuration.begin(), state_->configuration.end());
  out->insert(out->end(), state_->packet->data, state_->packet->data + state_->packet->size);
  av_packet_unref(state_->packet);
  return true;
}

}  // namespace dvremu
