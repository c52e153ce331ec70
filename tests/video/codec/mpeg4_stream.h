#pragma once
// Real MPEG-4 Visual streams for the video tests and benchmarks (header only): encoded here with
// FFmpeg, cut into the DVR's codec frames and decoded independently with FFmpeg for comparison;
// plus the draw gates and display-memory helpers both video sinks' tests use.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "video/codec/codec_channel.h"
#include "video/draw_gates.h"
#include "video/rgb565.h"

namespace testing_video {

struct EncodedPicture {
  std::vector<uint8_t> packet;  // as FFmpeg's encoder wrote it
};

// count pictures of a moving test pattern (no B-frames, a key picture every gop).
inline std::vector<EncodedPicture> encodeMpeg4(int width, int height, int count, int gop,
                                               int seed = 0) {
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
  if (av_frame_get_buffer(frame, 0) != 0) std::abort();
  AVPacket* packet = av_packet_alloc();
  std::vector<EncodedPicture> pictures;
  auto drain = [&] {
    while (avcodec_receive_packet(context, packet) == 0) {
      pictures.push_back({std::vector<uint8_t>(packet->data, packet->data + packet->size)});
      av_packet_unref(packet);
    }
  };
  for (int i = 0; i < count; ++i) {
    av_frame_make_writable(frame);  // the encoder may still hold the previous picture
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
  }
  avcodec_send_frame(context, nullptr);
  drain();
  av_packet_free(&packet);
  av_frame_free(&frame);
  avcodec_free_context(&context);
  return pictures;
}

// The DVR's codec frame for a packet: a 16-byte FrameHeader (marker 0x01, channel), then the
// coded data from the video object start on, renumbered to 00 00 01 01 as the DVR sends it
// (FFmpeg writes object 0 after a visual object sequence header, which is dropped).
inline std::vector<uint8_t> dvrFrame(const std::vector<uint8_t>& packet, uint8_t channel = 0) {
  std::vector<uint8_t> frame(16, 0);
  frame[0] = 0x01;
  frame[1] = channel;
  size_t from = 0;
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

// An independent FFmpeg decode of the packets, each picture scaled the way the library scales it
// to width x width*3/4, then turned into RGB565 (upright, rows top first).
class CReferenceDecoder {
 public:
  explicit CReferenceDecoder(int width) : width_(width) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
    context_ = avcodec_alloc_context3(codec);
    context_->thread_count = 1;
    if (avcodec_open2(context_, codec, nullptr) != 0) std::abort();
  }
  ~CReferenceDecoder() {
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&context_);
  }
  CReferenceDecoder(const CReferenceDecoder&) = delete;
  CReferenceDecoder& operator=(const CReferenceDecoder&) = delete;

  // The picture of this packet, or empty when none came out.
  std::vector<uint16_t> decode(const std::vector<uint8_t>& packet) {
    std::vector<uint8_t> padded(packet);
    padded.resize(packet.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    packet_->data = padded.data();
    packet_->size = static_cast<int>(packet.size());
    std::vector<uint16_t> picture;
    if (avcodec_send_packet(context_, packet_) < 0) return picture;
    const int height = width_ * 3 / 4;
    while (avcodec_receive_frame(context_, frame_) == 0) {
      const AVFrame* f = frame_;
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
      av_frame_unref(frame_);
    }
    return picture;
  }

 private:
  int width_;
  AVCodecContext* context_ = nullptr;
  AVFrame* frame_ = av_frame_alloc();
  AVPacket* packet_ = av_packet_alloc();
};

// The picture as the display shows it, upright, rows top first: the window view's 214 x 160 area
// at (14, 43), or the full screen's 320 x 240 picture turned back (picture row r, column c is
// display row c, column 239 - r).
inline std::vector<uint16_t> shownPicture(const std::vector<uint16_t>& memory, bool full) {
  std::vector<uint16_t> picture;
  for (int r = 0; r < (full ? 240 : 160); ++r) {
    for (int c = 0; c < (full ? 320 : 214); ++c) {
      picture.push_back(full ? memory[c * 240 + 239 - r] : memory[(43 + r) * 240 + 14 + c]);
    }
  }
  return picture;
}

// Display pixels outside the window view's 214 x 160 area at (14, 43) that are not sentinel.
inline int writtenOutsideWindowArea(const std::vector<uint16_t>& memory, uint16_t sentinel) {
  int written = 0;
  for (int row = 0; row < 320; ++row) {
    for (int col = 0; col < 240; ++col) {
      const bool inside = row >= 43 && row < 203 && col >= 14 && col < 228;
      if (!inside && memory[row * 240 + col] != sentinel) ++written;
    }
  }
  return written;
}

// Largest difference of any 5- or 6-bit component between two RGB565 pictures.
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

// Draw gates the test sets directly, from any thread.
class CTestGates final : public IDrawGates {
 public:
  bool disconnectRequested() const override { return disconnect.load(); }
  bool liveReady() const override { return live.load(); }
  bool displayReady() const override { return displayOk.load(); }
  // Opens all three gates except the one numbered (0 disconnect, 1 live, 2 display; -1 none).
  void closeOnly(int gate) {
    disconnect = gate == 0;
    live = gate != 1;
    displayOk = gate != 2;
  }
  std::atomic<bool> disconnect{false};
  std::atomic<bool> live{true};
  std::atomic<bool> displayOk{true};
};

// Reports a disconnect only from its second question on: the request arrives mid-frame.
class CDisconnectMidFrame final : public IDrawGates {
 public:
  bool disconnectRequested() const override { return ++asked_ > 1; }
  bool liveReady() const override { return true; }
  bool displayReady() const override { return true; }

 private:
  mutable int asked_ = 0;
};

}  // namespace testing_video
