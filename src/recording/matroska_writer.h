#pragma once
// One Matroska file through libavformat, written without re-encoding: a video track (Motion JPEG
// or MPEG-4 Part 2, as the frames arrive) and a 16-bit PCM 8 kHz mono audio track.
//
// Used by one thread at a time (the recording's writer thread after open).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/output_file.h"
#include "recording/frame_inspect.h"

struct AVFormatContext;
struct AVIOContext;

namespace recording {

enum class VideoCodec { Jpeg, Mpeg4 };

struct VideoTrack {
  VideoCodec codec = VideoCodec::Jpeg;
  PictureSize size;
  std::vector<uint8_t> extradata;  // MPEG-4: the VOL header, when known
};

class CMatroskaWriter {
 public:
  static constexpr int kAudioRate = 8000;

  CMatroskaWriter();
  ~CMatroskaWriter();  // finish()
  CMatroskaWriter(const CMatroskaWriter&) = delete;
  CMatroskaWriter& operator=(const CMatroskaWriter&) = delete;

  // Creates the file (0600, never through a link; see ExistingFile) and writes through its own
  // descriptor: the path is always a file name, never an FFmpeg URL. May wait for the disk.
  bool open(const std::string& path, platform::ExistingFile existing, std::string* error);
  // The name created by open (a counter may have been added).
  const std::string& path() const { return path_; }
  // Declares the tracks and writes the file header.
  bool begin(const VideoTrack& video, std::string* error);
  bool begun() const { return begun_; }

  // One coded picture; times in milliseconds from the start of the file.
  bool writeVideo(const uint8_t* data, size_t length, int64_t ptsMs, int64_t durationMs,
                  bool keyFrame);
  // Samples at kAudioRate; pts counted in samples from the start of the file.
  bool writeAudio(const int16_t* samples, size_t count, int64_t ptsSamples);

  // Writes the trailer (index, duration) when the header was written, and closes the file.
  // True when everything written reached the file.
  bool finish();

 private:
  struct ContextDeleter {
    void operator()(AVFormatContext* context) const;
  };
  struct IoDeleter {
    void operator()(AVIOContext* io) const;
  };
  static int writeBytes(void* opaque, uint8_t* data, int size);
  static int64_t seekTo(void* opaque, int64_t offset, int whence);

  platform::COutputFile file_;
  std::string path_;
  std::unique_ptr<AVIOContext, IoDeleter> io_;
  std::unique_ptr<AVFormatContext, ContextDeleter> context_;
  bool begun_ = false;
  std::vector<uint8_t> audioBytes_;  // little-endian staging for one audio block
};

}  // namespace recording
