#pragma once
// One decoder channel of the video decoder library: FFmpeg's MPEG-4 Visual decoder, libswscale to
// bring each picture to the channel's size, and the RGB565 writer. Not thread-safe by itself; the
// library serialises every call.
#include <cstdint>
#include <memory>
#include <vector>

#include "video/codec/codec_geometry.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

class CCodecChannel {
 public:
  // Largest picture the decoder accepts (a damaged header must not make it allocate more).
  static constexpr int64_t kMaxPixels = 1920 * 1088;

  CCodecChannel();
  ~CCodecChannel();
  CCodecChannel(const CCodecChannel&) = delete;
  CCodecChannel& operator=(const CCodecChannel&) = delete;

  // Sets up the decoder; false when FFmpeg can't.
  bool open();
  void setGeometry(const CodecGeometry& geometry) { geometry_ = geometry; }
  const CodecGeometry& geometry() const { return geometry_; }

  // One VCDecoder call; see the library's results.
  int decode(const uint8_t* data, uint32_t length, uint16_t* displayMemory);

 private:
  bool scale(const AVFrame& frame);

  struct CodecDeleter {
    void operator()(AVCodecContext* context) const;
  };
  struct FrameDeleter {
    void operator()(AVFrame* frame) const;
  };
  struct PacketDeleter {
    void operator()(AVPacket* packet) const;
  };
  struct ScalerDeleter {
    void operator()(SwsContext* scaler) const;
  };

  CodecGeometry geometry_;
  std::unique_ptr<AVCodecContext, CodecDeleter> codec_;
  std::unique_ptr<AVFrame, FrameDeleter> frame_;
  std::unique_ptr<AVPacket, PacketDeleter> packet_;
  std::unique_ptr<SwsContext, ScalerDeleter> scaler_;
  // The input with FFmpeg's zeroed padding after it (the caller guarantees far less).
  std::vector<uint8_t> input_;
  // The scaled BGR picture, stride bgrStride_.
  std::vector<uint8_t> bgr_;
  int bgrStride_ = 0;
};

// The scaling the channel applies (also what tests reproduce with their own FFmpeg decode).
int codecScaleFlags();
