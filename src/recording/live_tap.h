#pragma once
// A tap on the live frame path. It stands between the connections and the decoders: every frame
// and audio call goes on unchanged to the decoder, the renderer or the player, while the tap
// keeps what a snapshot of the newest picture needs and, on request, records the stream into a
// Matroska file (pictures as they arrived, audio as 16-bit PCM).
//
// Threads: decodeFrame and drawJpegFrame run on the live-stream thread, the IAudioSink calls on
// the audio thread (open and close also on the UI thread, as the audio connection makes them);
// snapshot, the recording calls and the destructor on the UI thread.
#include <QImage>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "protocol/audio_sink.h"
#include "protocol/frame_sinks.h"
#include "recording/recording_session.h"
#include "recording/snapshot_store.h"

class CLiveTap final : public ICodecFrameSink, public IJpegFrameSink, public IAudioSink {
 public:
  // Milliseconds on a monotonic clock; the arrival time of frames and audio blocks.
  using ClockMs = std::function<int64_t()>;
  using RecordingEndedHandler = std::function<void(const recording::RecordingStats&)>;

  // clock: empty takes std::chrono::steady_clock.
  CLiveTap(ICodecFrameSink& decoder, IJpegFrameSink& renderer, IAudioSink& player,
           ClockMs clock = {});
  ~CLiveTap() override;  // stops a recording (the file is closed cleanly)
  CLiveTap(const CLiveTap&) = delete;
  CLiveTap& operator=(const CLiveTap&) = delete;

  // ICodecFrameSink, IJpegFrameSink: kept or recorded as needed, then forwarded.
  bool decodeFrame(const uint8_t* frame, uint32_t length) override;
  bool drawJpegFrame(uint8_t* frame, uint32_t length) override;

  // IAudioSink: forwarded; played blocks are also recorded while a recording runs.
  int32_t open(WindowId window) override;
  void close() override;
  int32_t playG726(const uint8_t* payload, uint32_t length) override;
  int32_t playAdpcm(const uint8_t* payload, uint32_t length) override;
  AudioCodecMode mode() const override;
  void setMode(AudioCodecMode mode) override;

  // The newest picture at the size the DVR sent it, RGB; null when no frame has arrived (or,
  // for MPEG-4, no key frame yet). Any thread.
  QImage snapshot() const;
  // Forgets the newest picture, e.g. when the live stream ends.
  void clearSnapshot();

  // Starts writing the live stream to a Matroska file at path (created or truncated). The file
  // begins with the next picture (MPEG-4: the next key frame). False with *error when a
  // recording is already running or the file can't be created.
  bool startRecording(const std::string& path, std::string* error);
  // Closes the file cleanly after what is queued; no-op without a recording.
  void stopRecording();
  // A recording is being written (false once a stream change or a write failure ended it).
  bool recording() const;
  // The running recording's file; empty without one.
  std::string recordingPath() const;
  // Figures of the running recording, or of the last one.
  recording::RecordingStats recordingStats() const;
  // Called on the recording's writer thread whenever a recording's file has been closed, for
  // whatever reason. It must not block or call back into the tap (post to the UI thread).
  void setRecordingEndedHandler(RecordingEndedHandler handler);

 private:
  void endedOnWriter(const recording::RecordingStats& stats);

  ICodecFrameSink& decoder_;
  IJpegFrameSink& renderer_;
  IAudioSink& player_;
  const ClockMs clock_;

  recording::CSnapshotStore snapshots_;

  // Live-stream thread only: the newest VOL header and the size it gives.
  std::vector<uint8_t> volConfig_;
  std::optional<recording::PictureSize> volSize_;

  // Set while a session exists, so the receive threads skip the lock when nothing records.
  std::atomic<bool> sessionOpen_{false};
  // Guards session_ and lastStats_; receive threads hold it while offering to the session.
  mutable std::mutex sessionMutex_;
  std::unique_ptr<recording::CRecordingSession> session_;
  recording::RecordingStats lastStats_;

  mutable std::mutex handlerMutex_;  // guards endedHandler_
  RecordingEndedHandler endedHandler_;
};
