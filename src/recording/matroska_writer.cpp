#include "recording/matroska_writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace recording {
namespace {

std::string ffmpegError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

void setError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

// A muxer packet over caller-owned bytes; av_write_frame copies what it keeps.
bool writePacket(AVFormatContext* context, int stream, const uint8_t* data, size_t length,
                 int64_t pts, int64_t duration, AVRational from, bool keyFrame) {
  AVPacket* packet = av_packet_alloc();
  if (packet == nullptr) return false;
  packet->data = const_cast<uint8_t*>(data);
  packet->size = static_cast<int>(length);
  packet->stream_index = stream;
  packet->pts = packet->dts = pts;
  packet->duration = duration;
  if (keyFrame) packet->flags |= AV_PKT_FLAG_KEY;
  av_packet_rescale_ts(packet, from, context->streams[stream]->time_base);
  const int result = av_write_frame(context, packet);
  av_packet_free(&packet);
  return result >= 0;
}

}  // namespace

void CMatroskaWriter::ContextDeleter::operator()(AVFormatContext* context) const {
  context->pb = nullptr;  // owned by io_
  avformat_free_context(context);
}

void CMatroskaWriter::IoDeleter::operator()(AVIOContext* io) const {
  av_freep(&io->buffer);
  avio_context_free(&io);
}

int CMatroskaWriter::writeBytes(void* opaque, uint8_t* data, int size) {
  const int fd = static_cast<CMatroskaWriter*>(opaque)->file_.fd();
  int left = size;
  while (left > 0) {
    const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
    if (written < 0) {
      if (errno == EINTR) continue;
      return AVERROR(errno);
    }
    data += written;
    left -= static_cast<int>(written);
  }
  return size;
}

int64_t CMatroskaWriter::seekTo(void* opaque, int64_t offset, int whence) {
  const int fd = static_cast<CMatroskaWriter*>(opaque)->file_.fd();
  if (whence == AVSEEK_SIZE) {
    struct stat status {};
    return ::fstat(fd, &status) == 0 ? status.st_size : AVERROR(errno);
  }
  const off_t at = ::lseek(fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
  return at < 0 ? AVERROR(errno) : at;
}

CMatroskaWriter::CMatroskaWriter() = default;

CMatroskaWriter::~CMatroskaWriter() {
  finish();
}

bool CMatroskaWriter::open(const std::string& path, platform::ExistingFile existing,
                           std::string* error) {
  finish();
  AVFormatContext* raw = nullptr;
  int result = avformat_alloc_output_context2(&raw, nullptr, "matroska", nullptr);
  if (result < 0 || raw == nullptr) {
    setError(error, "the Matroska writer is not available: " + ffmpegError(result));
    return false;
  }
  std::unique_ptr<AVFormatContext, ContextDeleter> context(raw);
  platform::COutputFile file = platform::createOutputFile(path, existing);
  if (!file.isOpen()) {
    setError(error, file.error());
    return false;
  }
  file_ = std::move(file);
  path_ = file_.path();
  constexpr int kBufferSize = 64 * 1024;
  auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
  const bool seekable = ::lseek(file_.fd(), 0, SEEK_CUR) >= 0;
  AVIOContext* io = buffer == nullptr
                        ? nullptr
                        : avio_alloc_context(buffer, kBufferSize, 1, this, nullptr, &writeBytes,
                                             seekable ? &seekTo : nullptr);
  if (io == nullptr) {
    av_free(buffer);
    file_ = platform::COutputFile();
    setError(error, "out of memory");
    return false;
  }
  io_.reset(io);
  io_->seekable = seekable ? AVIO_SEEKABLE_NORMAL : 0;
  context->pb = io_.get();
  context->flags |= AVFMT_FLAG_CUSTOM_IO;
  context_ = std::move(context);
  return true;
}

bool CMatroskaWriter::begin(const VideoTrack& video, std::string* error) {
  if (!context_ || begun_) return false;
  AVFormatContext* c = context_.get();
  AVStream* videoStream = avformat_new_stream(c, nullptr);
  AVStream* audioStream = avformat_new_stream(c, nullptr);
  if (videoStream == nullptr || audioStream == nullptr) {
    setError(error, "out of memory");
    return false;
  }
  AVCodecParameters* v = videoStream->codecpar;
  v->codec_type = AVMEDIA_TYPE_VIDEO;
  v->codec_id = video.codec == VideoCodec::Jpeg ? AV_CODEC_ID_MJPEG : AV_CODEC_ID_MPEG4;
  v->width = video.size.width;
  v->height = video.size.height;
  if (!video.extradata.empty()) {
    v->extradata =
        static_cast<uint8_t*>(av_mallocz(video.extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (v->extradata == nullptr) {
      setError(error, "out of memory");
      return false;
    }
    std::memcpy(v->extradata, video.extradata.data(), video.extradata.size());
    v->extradata_size = static_cast<int>(video.extradata.size());
  }
  videoStream->time_base = AVRational{1, 1000};

  AVCodecParameters* a = audioStream->codecpar;
  a->codec_type = AVMEDIA_TYPE_AUDIO;
  a->codec_id = AV_CODEC_ID_PCM_S16LE;
  a->sample_rate = kAudioRate;
  av_channel_layout_default(&a->ch_layout, 1);
  a->bits_per_coded_sample = 16;
  a->block_align = 2;
  a->bit_rate = int64_t{kAudioRate} * 16;
  audioStream->time_base = AVRational{1, kAudioRate};

  AVDictionary* options = nullptr;
  // Short clusters, each flushed to the file: a recording cut off by a crash loses about a second.
  av_dict_set(&options, "cluster_time_limit", "1000", 0);
  av_dict_set(&options, "flush_packets", "1", 0);
  const int result = avformat_write_header(c, &options);
  av_dict_free(&options);
  if (result < 0) {
    setError(error, "cannot write the file header: " + ffmpegError(result));
    return false;
  }
  begun_ = true;
  return true;
}

bool CMatroskaWriter::writeVideo(const uint8_t* data, size_t length, int64_t ptsMs,
                                 int64_t durationMs, bool keyFrame) {
  if (!begun_) return false;
  return writePacket(context_.get(), 0, data, length, ptsMs, durationMs, AVRational{1, 1000},
                     keyFrame);
}

bool CMatroskaWriter::writeAudio(const int16_t* samples, size_t count, int64_t ptsSamples) {
  if (!begun_ || count == 0) return begun_;
  audioBytes_.resize(count * 2);
  for (size_t i = 0; i < count; ++i) {
    const auto sample = static_cast<uint16_t>(samples[i]);
    audioBytes_[2 * i] = static_cast<uint8_t>(sample & 0xFF);
    audioBytes_[2 * i + 1] = static_cast<uint8_t>(sample >> 8);
  }
  return writePacket(context_.get(), 1, audioBytes_.data(), audioBytes_.size(), ptsSamples,
                     static_cast<int64_t>(count), AVRational{1, kAudioRate}, true);
}

bool CMatroskaWriter::finish() {
  if (!context_) return true;
  bool ok = true;
  if (begun_) ok = av_write_trailer(context_.get()) >= 0;
  avio_flush(io_.get());
  ok = ok && io_->error >= 0;
  context_.reset();
  io_.reset();
  ok = ::close(file_.release()) == 0 && ok;
  begun_ = false;
  return ok;
}

}  // namespace recording
