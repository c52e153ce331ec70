#pragma once
// Snapshots and recordings of single channels for the monitor window. The live-stream thread
// offers every frame: each channel keeps what it takes to decode its newest picture at the DVR's
// size, and the channel being recorded goes to its Matroska writer, which does all file work on
// its own thread.
//
// offer runs on the live-stream thread; everything else on the UI thread. mutex_ guards the
// recording and the stream state the recording needs; the snapshot stores guard themselves. The
// news handler runs on a writer thread: it must only post to the UI thread.
#include <QImage>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "recording/frame_inspect.h"
#include "recording/recording_session.h"
#include "recording/snapshot_store.h"
#include "session/session_listener.h"

class CMonitorCapture {
 public:
  explicit CMonitorCapture(std::function<void()> onNews);
  ~CMonitorCapture();  // ends a recording, waiting briefly for its file; never longer
  CMonitorCapture(const CMonitorCapture&) = delete;
  CMonitorCapture& operator=(const CMonitorCapture&) = delete;

  // Live-stream thread.
  void offer(const LiveFrame& frame);

  // The channel's newest picture at the DVR's size, decoded now; null when there is none.
  QImage snapshot(int channel) const;
  // Forgets every picture (a new session).
  void clear();

  // Starts recording channel to path (a counter is added when the name is taken). False with
  // the reason when a recording runs already.
  bool startRecording(int channel, const std::string& path, std::string* error);
  void stopRecording();
  // The channel being recorded, -1 for none.
  int recordingChannel() const { return recordingChannel_.load(); }
  // What the writers reported since the last call (a file created, a recording's end).
  std::vector<recording::RecordingStats> takeEvents();

 private:
  struct Stream {  // live-stream thread, under mutex_
    std::vector<uint8_t> volConfig;
    std::optional<recording::PictureSize> volSize;
  };
  void reap();

  std::function<void()> onNews_;
  std::array<recording::CSnapshotStore, 16> stores_;
  mutable std::mutex mutex_;
  std::array<Stream, 16> streams_;
  std::unique_ptr<recording::CRecordingSession> recording_;
  std::atomic<int> recordingChannel_{-1};
  std::vector<std::unique_ptr<recording::CRecordingSession>> closing_;  // UI thread
  std::shared_ptr<std::mutex> eventsMutex_ = std::make_shared<std::mutex>();
  std::shared_ptr<std::vector<recording::RecordingStats>> events_ =
      std::make_shared<std::vector<recording::RecordingStats>>();
};
