#pragma once
// Shared pieces of the recording tests: stand-in sinks that record what reaches them, live
// frames wrapped the way the stream connection hands them over, and ffprobe/ffmpeg run as
// programs on the files the tap writes.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/audio_sink.h"
#include "protocol/frame_sinks.h"
#include "support/run_program.h"
#include "video/codec/mpeg4_stream.h"
#include "video/render/test_jpeg.h"

namespace taptest {

struct SinkCall {
  std::string what;
  const void* data = nullptr;
  uint32_t length = 0;
  std::vector<uint8_t> bytes;  // as they were when the call arrived
};

// Records every call; the JPEG path scribbles over the frame's end as the real decoder may.
class CRecordingSinks final : public ICodecFrameSink, public IJpegFrameSink, public IAudioSink {
 public:
  bool decodeFrame(const uint8_t* frame, uint32_t length) override {
    calls.push_back({"decode", frame, length, {frame, frame + length}});
    return false;
  }
  bool drawJpegFrame(uint8_t* frame, uint32_t length) override {
    calls.push_back({"jpeg", frame, length, {frame, frame + length}});
    for (uint32_t i = length > 8 ? length - 8 : 0; i < length + 3; ++i) frame[i] = 0xEE;
    return true;
  }
  int32_t open(WindowId window) override {
    calls.push_back({"open", nullptr, static_cast<uint32_t>(window), {}});
    return 7;
  }
  void close() override { calls.push_back({"close", nullptr, 0, {}}); }
  int32_t playG726(const uint8_t* payload, uint32_t length) override {
    calls.push_back({"g726", payload, length, {payload, payload + length}});
    return 11;
  }
  int32_t playAdpcm(const uint8_t* payload, uint32_t length) override {
    calls.push_back({"adpcm", payload, length, {payload, payload + length}});
    return 13;
  }
  AudioCodecMode mode() const override { return mode_; }
  void setMode(AudioCodecMode mode) override { mode_ = mode; }

  std::vector<SinkCall> calls;

 private:
  AudioCodecMode mode_ = AudioCodecMode::G726;
};

// A live frame: 16-byte FrameHeader, filler, then the payload, with the slack the connection
// keeps after every frame.
struct LiveFrame {
  std::vector<uint8_t> buffer;
  uint32_t length = 0;
  uint8_t* data() { return buffer.data(); }
};

inline LiveFrame liveFrame(const std::vector<uint8_t>& payload, size_t filler = 0) {
  LiveFrame frame;
  frame.buffer.assign(16 + filler, 0);
  frame.buffer[0] = 0x01;
  frame.buffer.insert(frame.buffer.end(), payload.begin(), payload.end());
  frame.length = static_cast<uint32_t>(frame.buffer.size());
  frame.buffer.resize(frame.buffer.size() + kFrameReadSlack, 0);
  return frame;
}

inline LiveFrame jpegFrame(int width, int height, int seed = 0, size_t filler = 0) {
  return liveFrame(
      testing_video::encodeJpeg(testing_video::testScene(width, height, seed), width, height),
      filler);
}

// Codec frames as the DVR sends them (a key frame every gop, starting with one).
inline std::vector<LiveFrame> mpeg4Frames(int width, int height, int count, int gop) {
  std::vector<LiveFrame> frames;
  for (const auto& picture : testing_video::encodeMpeg4(width, height, count, gop)) {
    const std::vector<uint8_t> dvr = testing_video::dvrFrame(picture.packet);
    frames.push_back(liveFrame({dvr.begin() + 16, dvr.end()}));
  }
  return frames;
}

struct ProbedStream {
  std::string type, codec;
  int width = 0, height = 0, sampleRate = 0, channels = 0;
  int frames = -1;  // decoded by ffprobe
};

struct Probe {
  bool ok = false;
  std::string error;
  double durationSeconds = -1;
  std::vector<ProbedStream> streams;
  const ProbedStream* find(const std::string& type) const {
    for (const auto& s : streams)
      if (s.type == type) return &s;
    return nullptr;
  }
};

inline Probe ffprobe(const QString& file) {
  const auto run =
      testing_support::runProgram("ffprobe", {"-v", "error", "-count_frames", "-show_streams",
                                              "-show_format", "-of", "json", file.toStdString()});
  Probe probe;
  if (run.exitCode != 0) {
    probe.error = "ffprobe failed: " + run.err;
    return probe;
  }
  const QJsonObject root = QJsonDocument::fromJson(QByteArray::fromStdString(run.out)).object();
  for (const auto& value : root["streams"].toArray()) {
    const QJsonObject s = value.toObject();
    ProbedStream stream;
    stream.type = s["codec_type"].toString().toStdString();
    stream.codec = s["codec_name"].toString().toStdString();
    stream.width = s["width"].toInt();
    stream.height = s["height"].toInt();
    stream.sampleRate = s["sample_rate"].toString().toInt();
    stream.channels = s["channels"].toInt();
    stream.frames = s["nb_read_frames"].toString("-1").toInt();
    probe.streams.push_back(stream);
  }
  probe.durationSeconds = root["format"].toObject()["duration"].toString("-1").toDouble();
  probe.ok = true;
  return probe;
}

// The audio track decoded to 16-bit samples by ffmpeg.
inline std::vector<int16_t> audioSamples(const QString& file) {
  const auto run = testing_support::runProgram(
      "ffmpeg", {"-v", "error", "-i", file.toStdString(), "-map", "0:a", "-f", "s16le", "-"});
  std::vector<int16_t> samples;
  if (run.exitCode != 0) return samples;
  const std::string& bytes = run.out;
  samples.resize(bytes.size() / 2);
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                      static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
  return samples;
}

}  // namespace taptest
