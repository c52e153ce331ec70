#include "monitor/tile_codec_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <cstring>

#include "video/codec/codec_channel.h"

static_assert(CTileCodecDecoder::kInputPadding >= AV_INPUT_BUFFER_PADDING_SIZE);

void CTileCodecDecoder::CodecDeleter::operator()(AVCodecContext* context) const {
  avcodec_free_context(&context);
}
void CTileCodecDecoder::FrameDeleter::operator()(AVFrame* frame) const {
  av_frame_free(&frame);
}
void CTileCodecDecoder::PacketDeleter::operator()(AVPacket* packet) const {
  av_packet_free(&packet);
}

CTileCodecDecoder::CTileCodecDecoder() = default;
CTileCodecDecoder::~CTileCodecDecoder() = default;

bool CTileCodecDecoder::open() {
  codec_.reset();
  firstFrame_ = true;
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
  if (codec == nullptr) return false;
  codec_.reset(avcodec_alloc_context3(codec));
  if (!decoded_) decoded_.reset(av_frame_alloc());
  if (!picture_) picture_.reset(av_frame_alloc());
  if (!packet_) packet_.reset(av_packet_alloc());
  if (!codec_ || !decoded_ || !picture_ || !packet_) {
    codec_.reset();
    return false;
  }
  codec_->thread_count = 1;  // the pool's worker decodes; no frame delay
  codec_->max_pixels = CCodecChannel::kMaxPixels;
  if (avcodec_open2(codec_.get(), codec, nullptr) != 0) {
    codec_.reset();
    return false;
  }
  return true;
}

CTileCodecDecoder::Result CTileCodecDecoder::decode(const uint8_t* frame, uint32_t length) {
  if (frame == nullptr || length == 0 || length > uint32_t(INT32_MAX)) return Result::NoPicture;
  // A changed configuration is a new stream: a fresh decoder, as the compact window's path does.
  if (codec_frame::carriesSequenceHeader(frame, length) &&
      std::memcmp(frame + codec_frame::kFrameHeaderSize, sequenceHeader_.data(),
                  sequenceHeader_.size()) != 0) {
    std::memcpy(sequenceHeader_.data(), frame + codec_frame::kFrameHeaderSize,
                sequenceHeader_.size());
    codec_.reset();
  }
  if (!codec_ && !open()) return Result::NoPicture;

  const std::optional<uint32_t> start = codec_frame::decoderInputStart(frame, length, firstFrame_);
  firstFrame_ = false;
  if (!start) return Result::NoPicture;
  packet_->data = const_cast<uint8_t*>(frame + *start);  // FFmpeg only reads it
  packet_->size = int(length - *start);
  if (avcodec_send_packet(codec_.get(), packet_.get()) < 0) return Result::NoPicture;

  bool got = false;
  while (avcodec_receive_frame(codec_.get(), decoded_.get()) == 0) {
    // A picture the decoder had to patch up is not shown; the previous one stays.
    const bool damaged =
        decoded_->decode_error_flags != 0 || (decoded_->flags & AV_FRAME_FLAG_CORRUPT) != 0;
    if (!damaged && decoded_->width > 0 && decoded_->height > 0) {
      av_frame_unref(picture_.get());
      av_frame_move_ref(picture_.get(), decoded_.get());
      got = true;
    } else {
      av_frame_unref(decoded_.get());
    }
  }
  if (got) havePicture_ = true;
  return got ? Result::Picture : Result::NoPicture;
}

QSize CTileCodecDecoder::pictureSize() const {
  if (!havePicture_) return {};
  return QSize(picture_->width, picture_->height);
}

bool CTileCodecDecoder::scaleInto(QImage& tile, QRect target) {
  return havePicture_ && scaler_.scale(*picture_, tile, target);
}
