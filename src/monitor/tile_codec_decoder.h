#pragma once
// One channel's MPEG-4 Visual decoder for its tile: its own FFmpeg decoder context, re-opened
// when the stream's configuration changes, fed from the same start codes as the compact window's
// codec path. Used by one thread at a time.
#include <QImage>
#include <QRect>
#include <QSize>

#include <array>
#include <cstdint>
#include <memory>

#include "monitor/tile_scaler.h"
#include "video/codec/codec_frame.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

class CTileCodecDecoder {
 public:
  // Zero bytes the caller keeps after every frame (FFmpeg's input padding).
  static constexpr uint32_t kInputPadding = 64;

  enum class Result {
    Picture,    // a new picture waits for scaleInto
    NoPicture,  // the frame gave none (no picture start, damaged, or no configuration yet)
  };

  CTileCodecDecoder();
  ~CTileCodecDecoder();
  CTileCodecDecoder(const CTileCodecDecoder&) = delete;
  CTileCodecDecoder& operator=(const CTileCodecDecoder&) = delete;

  // One codec frame, FrameHeader first, with kInputPadding zero bytes after length.
  Result decode(const uint8_t* frame, uint32_t length);
  // The newest picture's size (empty before the first).
  QSize pictureSize() const;
  // Scales the newest picture into target of tile.
  bool scaleInto(QImage& tile, QRect target);

 private:
  bool open();

  struct CodecDeleter {
    void operator()(AVCodecContext* context) const;
  };
  struct FrameDeleter {
    void operator()(AVFrame* frame) const;
  };
  struct PacketDeleter {
    void operator()(AVPacket* packet) const;
  };

  std::unique_ptr<AVCodecContext, CodecDeleter> codec_;
  std::unique_ptr<AVFrame, FrameDeleter> decoded_;
  std::unique_ptr<AVFrame, FrameDeleter> picture_;  // the newest good picture
  std::unique_ptr<AVPacket, PacketDeleter> packet_;
  std::array<uint8_t, codec_frame::kSequenceHeaderSize> sequenceHeader_{};
  bool firstFrame_ = true;
  bool havePicture_ = false;
  CFrameScaler scaler_;
};
