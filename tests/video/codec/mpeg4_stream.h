#pragma once
// Real MPEG-4 Visual streams for the tests and benchmarks (header only, so both can use it):
// encoded here with FFmpeg, cut into the DVR's codec frames, and decoded independently with FFmpeg
// for comparison.
#include <cstdint>
#include <vector>

#include "video/draw_gates.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "video/codec/codec_channel.h"
#include "video/rgb565.h"

namespace testing_video {

struct EncodedPicture {
  std::vector<uint8_t> packet;  // as FFmpeg's encoder wrote it
  bool key = false;
};

// Encodes count pictures of a moving test pattern (no B-frames, a key picture every gop).
std::vector<EncodedPicture> encodeMpeg4(int width, int height, int count, int gop, int seed = 0);

// The DVR's codec frame for a packet: a 16-byte FrameHeader (marker 0x01, channel), then the
// coded data. Configuration is kept from the video object start on, renumbered to 00 00 01 01
// as the DVR sends it; anything before it (FFmpeg's visual object sequence header) is dropped.
std::vector<uint8_t> dvrFrame(const std::vector<uint8_t>& packet, uint8_t channel = 0);

// Frames for a whole stream.
std::vector<std::vector<uint8_t>> dvrFrames(const std::vector<EncodedPicture>& pictures);

// An independent FFmpeg decode of the packets, each picture scaled the way the library scales it
// to width x width*3/4 BGR, then turned into RGB565 (upright, rows top first).
class CReferenceDecoder {
 public:
  explicit CReferenceDecoder(int width);
  ~CReferenceDecoder();
  // The picture of this packet, or empty when none came out.
  std::vector<uint16_t> decode(const std::vector<uint8_t>& packet);

 private:
  struct State;
  State* state_;
  int width_;
};

// Extracts the area of the display memory at (left, top), width x height (row by row).
std::vector<uint16_t> displayArea(const std::vector<uint16_t>& memory, int left, int top, int width,
                                  int height);
// The full-screen picture read back upright: picture row r, column c is display row c,
// column 239 - r.
std::vector<uint16_t> turnedBack(const std::vector<uint16_t>& memory, int width, int height);

// Largest difference of any 5- or 6-bit component between two RGB565 pictures.
int maxComponentDifference(const std::vector<uint16_t>& a, const std::vector<uint16_t>& b);

// Draw gates the test sets directly, from any thread.
class CTestGates final : public IDrawGates {
 public:
  bool disconnectRequested() const override { return disconnect.load(); }
  bool liveReady() const override { return live.load(); }
  bool displayReady() const override { return displayOk.load(); }
  std::atomic<bool> disconnect{false};
  std::atomic<bool> live{true};
  std::atomic<bool> displayOk{true};
};

// ---- definitions

inline std::vector<EncodedPicture> encodeMpeg4(int width, int height, int count, int gop,
                                               int seed) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
  AVCodecContext* context = avcodec_alloc_context3(codec);
  context->width = width;
  context->height = height;
  context->pix_fmt = AV_PIX_FMT_YUV420P;
  context->time_base = AVRational{1, 25};
  context->gop_size = gop;
  context->max_b_frames = 0;
  context->bit_rate = 2000000;
  context->thread_count = 1;
  context->flags |= AV_CODEC_FLAG_BITEXACT;
  if (avcodec_open2(context, codec, nullptr) != 0) std::abort();
  AVFrame* frame = av_frame_alloc();
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = width;
  frame->height = height;
  AVPacket* packet = av_packet_alloc();
  std::vector<EncodedPicture> pictures;
  auto drain = [&] {
    while (avcodec_receive_packet(context, packet) == 0) {
      pictures.push_back({std::vector<uint8_t>(packet->data, packet->data + packet->size),
                          (packet->flags & AV_PKT_FLAG_KEY) != 0});
      av_packet_unref(packet);
    }
  };
  for (int i = 0; i < count; ++i) {
    av_frame_get_buffer(frame, 0);
    av_frame_make_writable(frame);
    const int t = i * 3 + seed * 17;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const bool box = x > t % width && x < t % width + 60 && y > 40 && y < 120;
        frame->data[0][y * frame->linesize[0] + x] =
            static_cast<uint8_t>(box ? 230 : (x + y + seed * 40) % 200 + 20);
      }
    }
    for (int y = 0; y < height / 2; ++y) {
      for (int x = 0; x < width / 2; ++x) {
        frame->data[1][y * frame->linesize[1] + x] = static_cast<uint8_t>(64 + (x * 2) % 128);
        frame->data[2][y * frame->linesize[2] + x] = static_cast<uint8_t>(200 - (y * 2 + t) % 128);
      }
    }
    frame->pts = i;
    avcodec_send_frame(context, frame);
    drain();
    av_frame_unref(frame);
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
  }
  avcodec_send_frame(context, nullptr);
  drain();
  av_packet_free(&packet);
  av_frame_free(&frame);
  avcodec_free_context(&context);
  return pictures;
}

inline std::vector<uint8_t> dvrFrame(const std::vector<uint8_t>& packet, uint8_t channel) {
  std::vector<uint8_t> frame(16, 0);
  frame[0] = 0x01;
  frame[1] = channel;
  size_t from = 0;
  // FFmpeg writes video object id 0 (00 00 01 00); the DVR's configuration starts at 00 00 01 01.
  for (size_t p = 0; p + 4 <= packet.size(); ++p) {
    if (packet[p] == 0 && packet[p + 1] == 0 && packet[p + 2] == 1 && packet[p + 3] <= 0x1F) {
      from = p;
      break;
    }
  }
  frame.insert(frame.end(), packet.begin() + static_cast<std::ptrdiff_t>(from), packet.end());
  if (packet.size() >= from + 4 && packet[from + 3] <= 0x1F) frame[16 + 3] = 0x01;
  return frame;
}

inline std::vector<std::vector<uint8_t>> dvrFrames(const std::vector<EncodedPicture>& pictures) {
  std::vector<std::vector<uint8_t>> frames;
  for (const EncodedPicture& picture : pictures) frames.push_back(dvrFrame(picture.packet));
  return frames;
}

struct CReferenceDecoder::State {
  AVCodecContext* context = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
};

inline CReferenceDecoder::CReferenceDecoder(int width) : state_(new State), width_(width) {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
  state_->context = avcodec_alloc_context3(codec);
  state_->context->thread_count = 1;
  if (avcodec_open2(state_->context, codec, nullptr) != 0) std::abort();
  state_->frame = av_frame_alloc();
  state_->packet = av_packet_alloc();
}

inline CReferenceDecoder::~CReferenceDecoder() {
  av_packet_free(&state_->packet);
  av_frame_free(&state_->frame);
  avcodec_free_context(&state_->context);
  delete state_;
}

inline std::vector<uint16_t> CReferenceDecoder::decode(const std::vector<uint8_t>& packet) {
  std::vector<uint8_t> padded(packet);
  padded.resize(packet.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  state_->packet->data = padded.data();
  state_->packet->size = static_cast<int>(packet.size());
  std::vector<uint16_t> picture;
  if (avcodec_send_packet(state_->context, state_->packet) < 0) return picture;
  while (avcodec_receive_frame(state_->context, state_->frame) == 0) {
    const int height = width_ * 3 / 4;
    AVFrame* f = state_->frame;
    SwsContext* scaler =
        sws_getContext(f->width, f->height, static_cast<AVPixelFormat>(f->format), width_, height,
                       AV_PIX_FMT_BGR24, codecScaleFlags(), nullptr, nullptr, nullptr);
    std::vector<uint8_t> bgr(static_cast<size_t>(width_) * height * 3);
    uint8_t* planes[4] = {bgr.data(), nullptr, nullptr, nullptr};
    int strides[4] = {width_ * 3, 0, 0, 0};
    sws_scale(scaler, f->data, f->linesize, 0, f->height, planes, strides);
    sws_freeContext(scaler);
    picture.resize(static_cast<size_t>(width_) * height);
    for (size_t i = 0; i < picture.size(); ++i) picture[i] = rgb565(&bgr[i * 3]);
    av_frame_unref(f);
  }
  return picture;
}

inline std::vector<uint16_t> displayArea(const std::vector<uint16_t>& memory, int left, int top,
                                         int width, int height) {
  std::vector<uint16_t> area;
  for (int r = 0; r < height; ++r) {
    for (int c = 0; c < width; ++c) area.push_back(memory[(top + r) * 240 + left + c]);
  }
  return area;
}

inline std::vector<uint16_t> turnedBack(const std::vector<uint16_t>& memory, int width,
                                        int height) {
  std::vector<uint16_t> picture;
  for (int r = 0; r < height; ++r) {
    for (int c = 0; c < width; ++c) picture.push_back(memory[c * 240 + (239 - r)]);
  }
  return picture;
}

inline int maxComponentDifference(const std::vector<uint16_t>& a, const std::vector<uint16_t>& b) {
  if (a.size() != b.size()) return 1 << 16;
  int worst = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const int dr = std::abs((a[i] >> 11) - (b[i] >> 11));
    const int dg = std::abs(((a[i] >> 5) & 63) - ((b[i] >> 5) & 63));
    const int db = std::abs((a[i] & 31) - (b[i] & 31));
    worst = std::max({worst, dr, dg, db});
  }
  return worst;
}

}  // namespace testing_video
