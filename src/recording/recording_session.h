#pragma once
// One recording of the live stream into a Matroska file. The receive threads offer frames and
// audio blocks; a bounded queue hands them to the session's writer thread, which does all file
// work (header, packets, trailer). Nothing on a receive thread waits for the disk: when the queue
// is full the frame is dropped and counted.
//
// offerVideo runs on the live-stream thread, offerAudio on the audio thread, end and stats on
// any thread; mutex_ guards the queue and the offer-side state, statsMutex_ the figures.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "recording/audio_pcm_decoder.h"
#include "recording/frame_inspect.h"
#include "recording/matroska_writer.h"

namespace recording {

enum class RecordingEnd {
  Running,        // still being written
  Stopped,        // stopped by the caller
  StreamChanged,  // the codec or picture size changed (e.g. another channel)
  WriteFailed,    // the file could not be written (see error)
};

struct RecordingStats {
  std::string path;
  uint64_t videoFrames = 0;    // pictures written
  uint64_t audioBlocks = 0;    // audio blocks written
  uint64_t droppedFrames = 0;  // pictures lost to a full queue (and, for MPEG-4, up to the next
                               // key frame after such a loss)
  uint64_t droppedAudioBlocks = 0;
  int64_t durationMs = 0;  // of what was written
  RecordingEnd end = RecordingEnd::Running;
  std::string error;  // why writing failed
};

// A picture as the live-stream thread offers it; the bytes are copied before offerVideo returns.
struct OfferedFrame {
  VideoCodec codec = VideoCodec::Jpeg;
  const uint8_t* data = nullptr;  // JPEG image from FF D8 on, or MPEG-4 coded data
  size_t length = 0;
  bool keyFrame = true;
  std::optional<PictureSize> size;  // when the frame tells it (JPEG: always; MPEG-4: key frames)
  const std::vector<uint8_t>* config = nullptr;  // MPEG-4: the VOL header known for the stream
  int64_t arrivalMs = 0;
};

class CRecordingSession {
 public:
  using EndHandler = std::function<void(const RecordingStats&)>;

  // Queue bounds: whichever is reached first.
  static constexpr size_t kMaxQueuedItems = 256;
  static constexpr size_t kMaxQueuedBytes = size_t{32} << 20;
  // Audio that arrives this much later than its predecessor ended restarts at its arrival time.
  static constexpr int64_t kAudioGapMs = 500;

  // Creates the file and starts the writer thread; null (with *error) when the file can't be
  // created. onEnd runs on the writer thread once the file is closed; it must not block.
  static std::unique_ptr<CRecordingSession> start(const std::string& path, EndHandler onEnd,
                                                  std::string* error);
  ~CRecordingSession();  // finish()
  CRecordingSession(const CRecordingSession&) = delete;
  CRecordingSession& operator=(const CRecordingSession&) = delete;

  void offerVideo(const OfferedFrame& frame);
  void offerAudio(bool g726, const uint8_t* payload, uint32_t length, int64_t arrivalMs);

  // Asks the writer to close the file after what is queued; no more offers are taken.
  void end(RecordingEnd reason);
  // end(Stopped) and waits until the file is closed. Not from the writer thread.
  void finish();
  // An end was asked for (by the caller, a stream change or a write failure).
  bool ending() const;
  const std::string& path() const { return path_; }
  RecordingStats stats() const;

 private:
  struct Item;

  CRecordingSession(std::string path, std::unique_ptr<CMatroskaWriter> writer, EndHandler onEnd);
  bool pushLocked(Item&& item);
  void endLocked(RecordingEnd reason);
  void writerLoop();
  void writeVideo(Item& item);
  void writeAudio(Item& item);
  void fail(const std::string& error);

  const std::string path_;
  EndHandler onEnd_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Item> queue_;
  size_t queuedBytes_ = 0;
  bool endRequested_ = false;
  RecordingEnd endReason_ = RecordingEnd::Running;
  // Offer side (live-stream thread, under mutex_): the stream the file was begun with.
  bool started_ = false;
  VideoCodec codec_ = VideoCodec::Jpeg;
  PictureSize size_;
  bool awaitKeyFrame_ = false;  // MPEG-4 after a lost frame: drop until the next key frame

  // Writer thread only.
  std::unique_ptr<CMatroskaWriter> writer_;
  CAudioPcmDecoder audio_;
  int64_t startMs_ = 0;        // arrival of the first picture: time zero of the file
  int64_t lastVideoPts_ = -1;  // ms
  int64_t audioNext_ = 0;      // samples: where the next audio block continues
  bool audioStarted_ = false;
  bool failed_ = false;  // a write failed: the rest of the queue is discarded

  mutable std::mutex statsMutex_;  // guards stats_ (written by the writer, read by anyone)
  RecordingStats stats_;

  std::thread thread_;  // the writer; joined by finish()
};

}  // namespace recording
