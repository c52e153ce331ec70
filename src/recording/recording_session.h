#pragma once
// One recording of the live stream into a Matroska file. The receive threads offer frames and
// audio blocks; a bounded queue hands them to the session's writer thread, which does all file
// work (creating the file, header, packets, trailer, closing). Nothing on a receive thread or the
// UI thread waits for the disk: when the queue is full the frame is dropped and counted, and a
// writer stuck on storage that stopped answering can be abandoned.
//
// offerVideo runs on the live-stream thread, offerAudio on the audio thread, end and stats on
// any thread, waitUntilClosed and abandon on the owner's thread. The state the writer touches
// lives in Shared (see the .cpp), which the writer thread co-owns: its mutexes guard the queue
// and offer-side state, the figures, and the event handler.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/output_file.h"
#include "recording/audio_pcm_decoder.h"
#include "recording/frame_inspect.h"
#include "recording/matroska_writer.h"

namespace recording {

enum class RecordingEnd {
  Running,        // still being written
  Stopped,        // stopped by the caller
  StreamChanged,  // the codec or picture size changed (e.g. another channel)
  WriteFailed,    // the file could not be created or written (see error)
  Abandoned,      // the writer did not finish in time after the end was asked for
};

struct RecordingStats {
  std::string path;
  uint64_t videoFrames = 0;    // pictures written
  uint64_t audioBlocks = 0;    // audio blocks written
  uint64_t droppedFrames = 0;  // pictures lost to a full queue (and, for MPEG-4, up to the next
                               // key frame after such a loss)
  uint64_t droppedAudioBlocks = 0;
  uint64_t picturesBeforeStart = 0;  // offered before a picture the file can start with
                                     // (MPEG-4: before the first key frame)
  int64_t durationMs = 0;            // of what was written
  bool created = false;              // the file was created (path is its final name)
  RecordingEnd end = RecordingEnd::Running;
  std::string error;  // why writing failed

  // Ended with a closed file that holds at least one picture.
  bool saved() const {
    return (end == RecordingEnd::Stopped || end == RecordingEnd::StreamChanged) && videoFrames > 0;
  }
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
  // Runs on the writer thread when the file has been created (stats.end is Running) and when it
  // has been closed or could not be created; it must not block.
  using EventHandler = std::function<void(const RecordingStats&)>;

  // Queue bounds: whichever is reached first.
  static constexpr size_t kMaxQueuedItems = 256;
  static constexpr size_t kMaxQueuedBytes = size_t{32} << 20;
  // Audio that arrives this much later than its predecessor ended restarts at its arrival time.
  static constexpr int64_t kAudioGapMs = 500;

  // Starts the writer thread, which creates the file first (and, with makeFolder, its folder
  // and missing parents, private); a file that can't be created ends the session with
  // WriteFailed (reported through onEvent).
  static std::unique_ptr<CRecordingSession> start(const std::string& path,
                                                  platform::ExistingFile existing, bool makeFolder,
                                                  EventHandler onEvent);
  ~CRecordingSession();  // end(Stopped) and waits for the writer, unless abandoned
  CRecordingSession(const CRecordingSession&) = delete;
  CRecordingSession& operator=(const CRecordingSession&) = delete;

  void offerVideo(const OfferedFrame& frame);
  void offerAudio(bool g726, const uint8_t* payload, uint32_t length, int64_t arrivalMs);

  // Asks the writer to close the file after what is queued; no more offers are taken.
  void end(RecordingEnd reason);
  // Waits up to `wait` for the writer to close the file; true (and the thread joined) when it
  // has. Not from the writer thread.
  bool waitUntilClosed(std::chrono::milliseconds wait);
  // Gives up on a writer that has not finished: it is left to finish (or to die with the
  // process) on its own, reports nothing more, and the session may be destroyed at once.
  void abandon();
  // An end was asked for (by the caller, a stream change or a write failure).
  bool ending() const;
  const std::string& path() const { return path_; }
  RecordingStats stats() const;

 private:
  struct Item;
  // What the writer thread touches, shared with it so an abandoned writer never outlives it.
  struct Shared;

  explicit CRecordingSession(std::shared_ptr<Shared> shared);

  const std::string path_;
  std::shared_ptr<Shared> shared_;
  std::thread thread_;  // the writer; joined by waitUntilClosed, detached by abandon
};

}  // namespace recording
