#include "picture_source.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "jpeg_codec.h"
#include "synthetic_scene.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace dvremu {
namespace {

class SceneSource : public PictureSource {
 public:
  SceneSource(int channel, int width, int height) : scene_(channel, width, height) {}
  bool next(double seconds, const PtzPosition& view, uint64_t frameNumber, RgbImage& out) override {
    scene_.render(seconds, view, frameNumber, out);
    return true;
  }

 private:
  SyntheticScene scene_;
};

// JPEG files of a folder in name order, looped; each is scaled to the channel's size.
class JpegFolderSource : public PictureSource {
 public:
  JpegFolderSource(std::vector<std::filesystem::path> files, int width, int height)
      : files_(std::move(files)), width_(width), height_(height) {}
  bool next(double, const PtzPosition&, uint64_t, RgbImage& out) override {
    for (size_t tries = 0; tries < files_.size(); ++tries) {
      const auto& path = files_[index_];
      index_ = (index_ + 1) % files_.size();
      std::ifstream file(path, std::ios::binary);
      std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                 std::istreambuf_iterator<char>());
      RgbImage decoded;
      if (bytes.empty() || !decodeJpeg(bytes.data(), bytes.size(), &decoded)) continue;
      out.resize(width_, height_);
      scaleNearest(decoded, out);
      return true;
    }
    return false;
  }

 private:
  std::vector<std::filesystem::path> files_;
  size_t index_ = 0;
  int width_, height_;
};

// A video file decoded with FFmpeg, looped at its end.
class VideoFileSource : public PictureSource {
 public:
  VideoFileSource(int width, int height) : width_(width), height_(height) {}
  ~VideoFileSource() override {
    sws_freeContext(scaler_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&decoder_);
    avformat_close_input(&format_);
  }
  VideoFileSource(const VideoFileSource&) = delete;
  VideoFileSource& operator=(const VideoFileSource&) = delete;

  bool open(const std::string& path) {
    if (avformat_open_input(&format_, path.c_str(), nullptr, nullptr) < 0) return false;
    if (avformat_find_stream_info(format_, nullptr) < 0) return false;
    const AVCodec* codec = nullptr;
    stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (stream_ < 0 || codec == nullptr) return false;
    decoder_ = avcodec_alloc_context3(codec);
    if (decoder_ == nullptr ||
        avcodec_parameters_to_context(decoder_, format_->streams[stream_]->codecpar) < 0 ||
        avcodec_open2(decoder_, codec, nullptr) < 0) {
      return false;
    }
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    return frame_ != nullptr && packet_ != nullptr;
  }

  bool next(double, const PtzPosition&, uint64_t, RgbImage& out) override {
    for (int attempts = 0; attempts < 10000; ++attempts) {
      const int got = avcodec_receive_frame(decoder_, frame_);
      if (got == 0) return convert(out);
      if (got == AVERROR_EOF) {  // loop: rewind and start the decoder afresh
        if (rewound_++ > 2) return false;
        av_seek_frame(format_, stream_, 0, AVSEEK_FLAG_BACKWARD);
        avcodec_flush_buffers(decoder_);
        continue;
      }
      const int read = av_read_frame(format_, packet_);
      if (read < 0) {
        avcodec_send_packet(decoder_, nullptr);
        continue;
      }
      if (packet_->stream_index == stream_) avcodec_send_packet(decoder_, packet_);
      av_packet_unref(packet_);
    }
    return false;
  }

 private:
  bool convert(RgbImage& out) {
    rewound_ = 0;
    out.resize(width_, height_);
    scaler_ = sws_getCachedContext(scaler_, frame_->width, frame_->height,
                                   static_cast<AVPixelFormat>(frame_->format), width_, height_,
                                   AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (scaler_ == nullptr) return false;
    uint8_t* target[1] = {out.pixels.data()};
    const int stride[1] = {width_ * 3};
    sws_scale(scaler_, frame_->data, frame_->linesize, 0, frame_->height, target, stride);
    av_frame_unref(frame_);
    return true;
  }

  int width_, height_;
  AVFormatContext* format_ = nullptr;
  AVCodecContext* decoder_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  SwsContext* scaler_ = nullptr;
  int stream_ = -1;
  int rewound_ = 0;
};

}  // namespace

std::unique_ptr<PictureSource> makePictureSource(const std::string& sourceText, int channel,
                                                 int width, int height, std::string* warning) {
  if (sourceText.rfind("jpeg-dir:", 0) == 0) {
    const std::filesystem::path folder = sourceText.substr(9);
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
      auto ext = entry.path().extension().string();
      std::transform(ext.begin(), ext.end(), ext.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      if (entry.is_regular_file() && (ext == ".jpg" || ext == ".jpeg"))
        files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    if (!files.empty()) return std::make_unique<JpegFolderSource>(std::move(files), width, height);
    if (warning) *warning = "no JPEG files in " + folder.string() + "; showing the scene";
  } else if (sourceText.rfind("video:", 0) == 0) {
    auto source = std::make_unique<VideoFileSource>(width, height);
    if (source->open(sourceText.substr(6))) return source;
    if (warning) *warning = "cannot open video " + sourceText.substr(6) + "; showing the scene";
  }
  return std::make_unique<SceneSource>(channel, width, height);
}

}  // namespace dvremu
