#include "video/codec/codec_channel.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <cstring>

#include "video/codec/video_codec_library.h"

int codecScaleFlags() {
  return SWS_BILINEAR;
}

void CCodecChannel::CodecDeleter::operator()(AVCodecContext* context) const {
  avcodec_free_context(&context);
}
void CCodecChannel::FrameDeleter::operator()(AVFrame* frame) const {
  av_frame_free(&frame);
}
void CCodecChannel::PacketDeleter::operator()(AVPacket* packet) const {
  av_packet_free(&packet);
}
void CCodecChannel::ScalerDeleter::operator()(SwsContext* scaler) const {
  sws_freeContext(scaler);
}

CCodecChannel::CCodecChannel() = default;
CCodecChannel::~CCodecChannel() = default;

bool CCodecChannel::open() {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
  if (codec == nullptr) return false;
  codec_.reset(avcodec_alloc_context3(codec));
  frame_.reset(av_frame_alloc());
  packet_.reset(av_packet_alloc());
  if (!codec_ || !frame_ || !packet_) return false;
  codec_->thread_count = 1;  // decode on the caller's thread, no frame delay
  codec_->max_pixels = kMaxPixels;
  return avcodec_open2(codec_.get(), codec, nullptr) == 0;
}

int CCodecChannel::decode(const uint8_t* data, uint32_t length, uint16_t* displayMemory) {
  if (data == nullptr || length == 0 || displayMemory == nullptr || !codec_) return kDecFailed;
  if (length > static_cast<uint32_t>(INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE)) return kDecFailed;
  input_.assign(data, data + length);
  input_.resize(length + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  packet_->data = input_.data();
  packet_->size = static_cast<int>(length);
  if (avcodec_send_packet(codec_.get(), packet_.get()) < 0) return kDecNothingDrawn;

  // Normally one picture per piece of stream; the newest one is shown.
  bool haveGoodPicture = false;
  while (avcodec_receive_frame(codec_.get(), frame_.get()) == 0) {
    // A picture the decoder had to patch up is not shown; the previous one stays.
    const bool damaged =
        frame_->decode_error_flags != 0 || (frame_->flags & AV_FRAME_FLAG_CORRUPT) != 0;
    haveGoodPicture = !damaged && scale(*frame_);
    av_frame_unref(frame_.get());
  }
  if (!haveGoodPicture) return kDecNothingDrawn;
  writeBgrPicture(geometry_, bgr_.data(), bgrStride_, displayMemory);
  return kDecDrawn;
}

bool CCodecChannel::scale(const AVFrame& frame) {
  if (frame.width <= 0 || frame.height <= 0) return false;
  SwsContext* scaler = sws_getCachedContext(scaler_.release(), frame.width, frame.height,
                                            static_cast<AVPixelFormat>(frame.format),
                                            geometry_.width, geometry_.height, AV_PIX_FMT_BGR24,
                                            codecScaleFlags(), nullptr, nullptr, nullptr);
  scaler_.reset(scaler);
  if (scaler == nullptr) return false;
  bgrStride_ = (geometry_.width * 3 + 31) & ~31;
  bgr_.resize(static_cast<size_t>(bgrStride_) * geometry_.height);
  uint8_t* planes[4] = {bgr_.data(), nullptr, nullptr, nullptr};
  int strides[4] = {bgrStride_, 0, 0, 0};
  return sws_scale(scaler, frame.data, frame.linesize, 0, frame.height, planes, strides) ==
         geometry_.height;
}
