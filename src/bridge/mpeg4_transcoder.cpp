#include "bridge/mpeg4_transcoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace {
constexpr int kJpegQuality = 3;  // the encoder's qscale: 2 best .. 31 worst
}

struct CMpeg4Transcoder::Codecs {
  struct ContextFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
  };
  struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
  };
  struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
  };
  struct ScaleFree {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
  };
  std::unique_ptr<AVCodecContext, ContextFree> decoder;
  std::unique_ptr<AVCodecContext, ContextFree> encoder;
  std::unique_ptr<AVFrame, FrameFree> decoded;
  std::unique_ptr<AVFrame, FrameFree> full;  // full-range 4:2:0 for the JPEG encoder
  std::unique_ptr<AVPacket, PacketFree> packet;
  std::unique_ptr<SwsContext, ScaleFree> scale;
  int width = 0;
  int height = 0;
  int format = -1;

  bool open() {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
    if (codec == nullptr) return false;
    decoder.reset(avcodec_alloc_context3(codec));
    decoded.reset(av_frame_alloc());
    full.reset(av_frame_alloc());
    packet.reset(av_packet_alloc());
    if (!decoder || !decoded || !full || !packet) return false;
    decoder->thread_count = 1;
    return avcodec_open2(decoder.get(), codec, nullptr) == 0;
  }

  // The JPEG encoder and converter for the decoded picture's size; kept while it stays.
  bool prepareEncoder(const AVFrame& picture) {
    if (encoder && picture.width == width && picture.height == height && picture.format == format)
      return true;
    encoder.reset();
    scale.reset();
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    if (codec == nullptr) return false;
    encoder.reset(avcodec_alloc_context3(codec));
    if (!encoder) return false;
    encoder->width = picture.width;
    encoder->height = picture.height;
    encoder->pix_fmt = AV_PIX_FMT_YUVJ420P;
    encoder->time_base = AVRational{1, 25};
    encoder->flags |= AV_CODEC_FLAG_QSCALE;
    encoder->global_quality = FF_QP2LAMBDA * kJpegQuality;
    if (avcodec_open2(encoder.get(), codec, nullptr) != 0) {
      encoder.reset();
      return false;
    }
    scale.reset(sws_getContext(
        picture.width, picture.height, static_cast<AVPixelFormat>(picture.format), picture.width,
        picture.height, AV_PIX_FMT_YUVJ420P, SWS_BILINEAR, nullptr, nullptr, nullptr));
    av_frame_unref(full.get());
    full->width = picture.width;
    full->height = picture.height;
    full->format = AV_PIX_FMT_YUVJ420P;
    if (!scale || av_frame_get_buffer(full.get(), 0) != 0) {
      encoder.reset();
      return false;
    }
    width = picture.width;
    height = picture.height;
    format = picture.format;
    return true;
  }

  std::vector<uint8_t> encode(const AVFrame& picture) {
    if (!prepareEncoder(picture) || av_frame_make_writable(full.get()) != 0) return {};
    sws_scale(scale.get(), picture.data, picture.linesize, 0, picture.height, full->data,
              full->linesize);
    full->quality = encoder->global_quality;
    full->pts = AV_NOPTS_VALUE;
    std::vector<uint8_t> jpeg;
    if (avcodec_send_frame(encoder.get(), full.get()) != 0) return {};
    while (avcodec_receive_packet(encoder.get(), packet.get()) == 0) {
      jpeg.assign(packet->data, packet->data + packet->size);
      av_packet_unref(packet.get());
    }
    return jpeg;
  }
};

CMpeg4Transcoder::CMpeg4Transcoder(CFrameHub& hub) : hub_(hub) {
  av_log_set_level(AV_LOG_QUIET);
  worker_ = std::thread([this] { run(); });
}

CMpeg4Transcoder::~CMpeg4Transcoder() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  worker_.join();
}

bool CMpeg4Transcoder::startsWithIntra(const uint8_t* coded, size_t length) {
  for (size_t i = 0; i + 4 < length; ++i) {
    if (coded[i] == 0 && coded[i + 1] == 0 && coded[i + 2] == 1 && coded[i + 3] == 0xB6)
      return (coded[i + 4] >> 6) == 0;
  }
  return false;
}

void CMpeg4Transcoder::queue(uint8_t channel, const uint8_t* coded, size_t length,
                             std::chrono::steady_clock::time_point arrival) {
  if (channel >= channels_.size() || coded == nullptr || length == 0) return;
  const bool intra = startsWithIntra(coded, length);
  {
    std::lock_guard lock(mutex_);
    Channel& state = channels_[channel];
    if (state.queue.size() >= kMaxQueued) {
      state.dropped += state.queue.size();
      state.queue.clear();
      state.waitForIntra = true;
    }
    if (state.waitForIntra && !intra) {
      ++state.dropped;
      return;
    }
    if (state.waitForIntra) state.restart = true;  // references before the gap are gone
    state.waitForIntra = false;
    state.queue.push_back(Coded{std::vector<uint8_t>(coded, coded + length), arrival});
  }
  wake_.notify_one();
}

void CMpeg4Transcoder::restart(uint8_t channel) {
  if (channel >= channels_.size()) return;
  std::lock_guard lock(mutex_);
  channels_[channel].queue.clear();
  channels_[channel].waitForIntra = true;
}

uint64_t CMpeg4Transcoder::dropped(uint8_t channel) const {
  if (channel >= channels_.size()) return 0;
  std::lock_guard lock(mutex_);
  return channels_[channel].dropped;
}

void CMpeg4Transcoder::run() {
  size_t next = 0;  // round robin over the channels
  std::unique_lock lock(mutex_);
  while (true) {
    wake_.wait(lock, [&] {
      if (stopping_) return true;
      for (const Channel& c : channels_)
        if (!c.queue.empty()) return true;
      return false;
    });
    if (stopping_) return;
    for (size_t i = 0; i < channels_.size(); ++i) {
      const size_t n = (next + i) % channels_.size();
      Channel& state = channels_[n];
      if (state.queue.empty()) continue;
      Coded coded = std::move(state.queue.front());
      state.queue.pop_front();
      const bool restart = state.restart;
      state.restart = false;
      next = n + 1;
      lock.unlock();
      transcode(static_cast<uint8_t>(n), coded, restart);
      lock.lock();
      break;
    }
  }
}

void CMpeg4Transcoder::transcode(uint8_t channel, const Coded& coded, bool restart) {
  auto& codecs = codecs_[channel];
  if (!codecs || restart) {
    codecs = std::make_unique<Codecs>();
    if (!codecs->open()) {
      codecs.reset();
      return;
    }
  }
  // The decoder reads up to AV_INPUT_BUFFER_PADDING_SIZE bytes past the data.
  std::vector<uint8_t> padded(coded.data.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  std::copy(coded.data.begin(), coded.data.end(), padded.begin());
  AVPacket* packet = codecs->packet.get();
  packet->data = padded.data();
  packet->size = static_cast<int>(coded.data.size());
  const int sent = avcodec_send_packet(codecs->decoder.get(), packet);
  packet->data = nullptr;
  packet->size = 0;
  if (sent != 0) return;
  while (avcodec_receive_frame(codecs->decoder.get(), codecs->decoded.get()) == 0) {
    std::vector<uint8_t> jpeg = codecs->encode(*codecs->decoded);
    av_frame_unref(codecs->decoded.get());
    if (!jpeg.empty()) hub_.publish(channel, std::move(jpeg), coded.arrival);
  }
}
