#pragma once
// A tap on the live frame path. It stands between the connections and the decoders: every frame
// and audio call goes on unchanged to the decoder, the renderer or the player, while the tap
// keeps what a snapshot of the newest picture needs and, on request, records the stream into a
// Matroska file (pictures as they arrived, audio as 16-bit PCM).
//
// Threads: decodeFrame and drawJpegFrame run on the live-stream thread, the IAudioSink calls on
// the audio thread (open and close also on the UI thread, as the audio connection makes them);
// snapshot, the recording calls and the destructor on the UI thread, which never waits for the
// disk except in finishRecordings (bounded).
#include <QImage>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/output_file.h"
#include "protocol/audio_sink.h"
#include "protocol/frame_sinks.h"
#include "recording/recording_session.h"
#include "recording/snapshot_store.h"

class CLiveTap final : public ICodecFrameSink, public IJpegFrameSink, public IAudioSink {
 public:
  // Milliseconds on a monotonic clock; the arrival time of frames and audio blocks.
  using ClockMs = std::function<int64_t()>;
  using RecordingEventHandler = std::function<void(const recording::RecordingStats&)>;
  // How long finishRecordings waits for writers by default before abandoning them.
  static constexpr std::chrono::milliseconds kAbandonAfter{3000};

  // clock: empty takes std::chrono::steady_clock.
  CLiveTap(ICodecFrameSink& decoder, IJpegFrameSink& renderer, IAudioSink& player,
           ClockMs clock = {});
  ~CLiveTap() override;  // finishRecordings()
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

  // Starts writing the live stream to a Matroska file at path; the writer thread creates the
  // file (see ExistingFile; with makeFolder also its missing folders, private) and reports it,
  // or its failure, as an event. The file begins with the next picture (MPEG-4: the next key
  // frame). False with *error when a recording is already running.
  bool startRecording(const std::string& path, platform::ExistingFile existing, std::string* error,
                      bool makeFolder = false);
  // Asks the writer to close the file after what is queued and returns at once; the end is
  // reported as an event. No-op without a recording.
  void stopRecording();
  // Stops a running recording and waits up to `wait` in all for every writer to close its file;
  // writers still busy then are abandoned (reported as RecordingEnd::Abandoned). True when
  // every file was closed.
  bool finishRecordings(std::chrono::milliseconds wait = kAbandonAfter);
  // A recording is being written (false once a stop, a stream change or a write failure ended it).
  bool recording() const;
  // The running recording's file (its final name once created); empty without one.
  std::string recordingPath() const;
  // Figures of the running recording, or of the last one.
  recording::RecordingStats recordingStats() const;
  // What happened since the last call, oldest first: a file was created (end is Running), or a
  // recording ended (closed, failed, or abandoned).
  std::vector<recording::RecordingStats> takeRecordingEvents();
  // Called whenever an event is added, on the writer thread (or the caller's, for an abandoned
  // writer). It must not block or call back into the tap (post to the UI thread).
  void setRecordingEventHandler(RecordingEventHandler handler);

 private:
  void addEvent(uint64_t session, const recording::RecordingStats& stats);
  std::string recordingPathLocked() const;  // session_ must exist; under sessionMutex_
  void reapClosed();

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
  // Guards session_; receive threads hold it while offering to the session.
  mutable std::mutex sessionMutex_;
  std::unique_ptr<recording::CRecordingSession> session_;
  uint64_t sessionId_ = 0;  // of session_ (UI thread)
  // Stopped sessions whose writers are still closing their files (UI thread only).
  std::vector<std::unique_ptr<recording::CRecordingSession>> closing_;

  mutable std::mutex eventMutex_;  // guards what follows
  std::vector<recording::RecordingStats> events_;
  recording::RecordingStats lastStats_;
  uint64_t lastStatsId_ = 0;  // the session lastStats_ belongs to
  RecordingEventHandler eventHandler_;
};
