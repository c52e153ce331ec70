#include "recording/recording_session.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <utility>

namespace recording {

struct CRecordingSession::Item {
  enum class Kind { Video, Audio, End };
  Kind kind = Kind::End;
  std::vector<uint8_t> bytes;
  int64_t arrivalMs = 0;
  bool keyFrame = false;
  bool g726 = false;
  std::optional<VideoTrack> begin;  // the first picture declares the file's video track
};

struct CRecordingSession::Shared {
  Shared(std::string path, platform::ExistingFile existing, bool makeFolder, EventHandler onEvent)
      : path(std::move(path)),
        existing(existing),
        makeFolder(makeFolder),
        onEvent(std::move(onEvent)) {
    stats.path = this->path;
  }

  void offerVideo(const OfferedFrame& frame);
  void offerAudio(bool g726, const uint8_t* payload, uint32_t length, int64_t arrivalMs);
  bool pushLocked(Item&& item);
  void end(RecordingEnd reason) {
    std::lock_guard lock(mutex);
    endLocked(reason);
  }
  void endLocked(RecordingEnd reason);
  void writerLoop();
  void writeVideo(Item& item);
  void writeAudio(Item& item);
  void fail(const std::string& error);
  void report(const RecordingStats& figures) {
    std::lock_guard lock(eventMutex);
    if (onEvent) onEvent(figures);
  }

  const std::string path;  // as asked for; the file's name may get a counter
  const platform::ExistingFile existing;
  const bool makeFolder;

  std::mutex eventMutex;  // guards onEvent: abandon() clears it while the writer may report
  EventHandler onEvent;

  mutable std::mutex mutex;
  std::condition_variable wake;
  std::deque<Item> queue;
  size_t queuedBytes = 0;
  bool endRequested = false;
  RecordingEnd endReason = RecordingEnd::Running;
  bool closed = false;  // the writer is done with the file (under mutex; wake tells the owner)
  // Offer side (live-stream thread, under mutex): the stream the file was begun with.
  bool started = false;
  VideoCodec codec = VideoCodec::Jpeg;
  PictureSize size;
  bool awaitKeyFrame = false;  // MPEG-4 after a lost frame: drop until the next key frame

  // Writer thread only.
  CMatroskaWriter writer;
  CAudioPcmDecoder audio;
  int64_t startMs = 0;        // arrival of the first picture: time zero of the file
  int64_t lastVideoPts = -1;  // ms
  int64_t audioNext = 0;      // samples: where the next audio block continues
  bool audioStarted = false;
  bool failed = false;  // a write failed: the rest of the queue is discarded

  mutable std::mutex statsMutex;  // guards stats (written by the writer, read by anyone)
  RecordingStats stats;
};

std::unique_ptr<CRecordingSession> CRecordingSession::start(const std::string& path,
                                                            platform::ExistingFile existing,
                                                            bool makeFolder, EventHandler onEvent) {
  auto shared = std::make_shared<Shared>(path, existing, makeFolder, std::move(onEvent));
  std::unique_ptr<CRecordingSession> session(new CRecordingSession(shared));
  // The thread keeps its own reference: an abandoned writer still has everything it touches.
  session->thread_ = std::thread([shared] { shared->writerLoop(); });
  return session;
}

CRecordingSession::CRecordingSession(std::shared_ptr<Shared> shared)
    : path_(shared->path), shared_(std::move(shared)) {}

CRecordingSession::~CRecordingSession() {
  if (!thread_.joinable()) return;
  end(RecordingEnd::Stopped);
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

void CRecordingSession::offerVideo(const OfferedFrame& frame) {
  shared_->offerVideo(frame);
}

void CRecordingSession::offerAudio(bool g726, const uint8_t* payload, uint32_t length,
                                   int64_t arrivalMs) {
  shared_->offerAudio(g726, payload, length, arrivalMs);
}

void CRecordingSession::end(RecordingEnd reason) {
  shared_->end(reason);
}

bool CRecordingSession::waitUntilClosed(std::chrono::milliseconds wait) {
  {
    std::unique_lock lock(shared_->mutex);
    if (!shared_->wake.wait_for(lock, wait, [this] { return shared_->closed; })) return false;
  }
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
  return true;
}

void CRecordingSession::abandon() {
  {
    std::lock_guard lock(shared_->eventMutex);
    shared_->onEvent = nullptr;
  }
  if (thread_.joinable()) thread_.detach();
}

bool CRecordingSession::ending() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->endRequested;
}

RecordingStats CRecordingSession::stats() const {
  std::lock_guard lock(shared_->statsMutex);
  return shared_->stats;
}

void CRecordingSession::Shared::offerVideo(const OfferedFrame& frame) {
  std::lock_guard lock(mutex);
  if (endRequested) return;
  Item item;
  item.kind = Item::Kind::Video;
  if (!started) {
    // The file starts at a picture that stands alone and whose size is known.
    if (!frame.keyFrame || !frame.size) {
      std::lock_guard statsLock(statsMutex);
      ++stats.picturesBeforeStart;
      return;
    }
    VideoTrack track{frame.codec, *frame.size, {}};
    if (frame.config != nullptr) track.extradata = *frame.config;
    item.begin = std::move(track);
  } else if (frame.codec != codec || (frame.size && *frame.size != size)) {
    endLocked(RecordingEnd::StreamChanged);
    return;
  }
  auto countDropped = [this] {
    std::lock_guard statsLock(statsMutex);
    ++stats.droppedFrames;
  };
  if (awaitKeyFrame && !frame.keyFrame) {
    countDropped();  // would not decode without the lost picture before it
    return;
  }
  item.bytes.assign(frame.data, frame.data + frame.length);
  item.arrivalMs = frame.arrivalMs;
  item.keyFrame = frame.keyFrame;
  const bool first = !started;
  if (!pushLocked(std::move(item))) {
    countDropped();
    awaitKeyFrame = frame.codec == VideoCodec::Mpeg4;
    return;
  }
  awaitKeyFrame = false;
  if (first) {
    started = true;
    codec = frame.codec;
    size = *frame.size;
  }
}

void CRecordingSession::Shared::offerAudio(bool g726, const uint8_t* payload, uint32_t length,
                                           int64_t arrivalMs) {
  std::lock_guard lock(mutex);
  if (endRequested || !started) return;  // the file's time starts with its first picture
  Item item;
  item.kind = Item::Kind::Audio;
  item.bytes.assign(payload, payload + length);
  item.arrivalMs = arrivalMs;
  item.g726 = g726;
  if (!pushLocked(std::move(item))) {
    std::lock_guard statsLock(statsMutex);
    ++stats.droppedAudioBlocks;
  }
}

bool CRecordingSession::Shared::pushLocked(Item&& item) {
  if (queue.size() >= kMaxQueuedItems || queuedBytes + item.bytes.size() > kMaxQueuedBytes)
    return false;
  queuedBytes += item.bytes.size();
  queue.push_back(std::move(item));
  wake.notify_all();
  return true;
}

void CRecordingSession::Shared::endLocked(RecordingEnd reason) {
  if (endRequested) return;
  endRequested = true;
  endReason = reason;
  queue.push_back(Item{});  // the end marker, beyond the bounds: it must always get through
  wake.notify_all();
}

void CRecordingSession::Shared::fail(const std::string& error) {
  failed = true;
  {
    std::lock_guard lock(statsMutex);
    if (stats.error.empty()) stats.error = error;
  }
  end(RecordingEnd::WriteFailed);
}

void CRecordingSession::Shared::writerLoop() {
  std::string error;
  if (makeFolder) {
    // A failure shows as the file's failure just below.
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) platform::makePrivateFolder(path.substr(0, slash));
  }
  if (writer.open(path, existing, &error)) {
    RecordingStats opened;
    {
      std::lock_guard lock(statsMutex);
      stats.path = writer.path();
      stats.created = true;
      opened = stats;
    }
    report(opened);
  } else {
    fail(error);
  }

  for (;;) {
    Item item;
    {
      std::unique_lock lock(mutex);
      wake.wait(lock, [this] { return !queue.empty(); });
      item = std::move(queue.front());
      queue.pop_front();
      queuedBytes -= item.bytes.size();
    }
    if (item.kind == Item::Kind::End) break;
    if (failed) continue;  // drain up to the end marker that fail() queued
    if (item.kind == Item::Kind::Video) writeVideo(item);
    if (item.kind == Item::Kind::Audio) writeAudio(item);
  }

  const bool begun = writer.begun();
  const bool closeOk = writer.finish();
  if (!begun && !writer.path().empty()) {
    // Nothing was recorded: leave no empty, unplayable file behind.
    std::error_code ignored;
    std::filesystem::remove(writer.path(), ignored);
  }
  RecordingStats final;
  {
    std::lock_guard lock(mutex);
    std::lock_guard statsLock(statsMutex);
    stats.end = endReason;
    if (!closeOk || failed) {
      stats.end = RecordingEnd::WriteFailed;
      if (stats.error.empty()) stats.error = "cannot finish " + stats.path;
    }
    final = stats;
  }
  report(final);
  {
    std::lock_guard lock(mutex);
    closed = true;
  }
  wake.notify_all();
}

void CRecordingSession::Shared::writeVideo(Item& item) {
  if (item.begin) {
    std::string error;
    if (!writer.begin(*item.begin, &error)) {
      fail(error);
      return;
    }
    startMs = item.arrivalMs;
  }
  if (!writer.begun()) return;
  // Arrival times, strictly increasing; each picture lasts as long as the gap before it (the
  // best guess for the next one).
  const int64_t pts = std::max(item.arrivalMs - startMs, lastVideoPts + 1);
  const int64_t duration = lastVideoPts >= 0 ? pts - lastVideoPts : 0;
  if (!writer.writeVideo(item.bytes.data(), item.bytes.size(), pts, duration, item.keyFrame)) {
    fail("cannot write to " + stats.path);
    return;
  }
  lastVideoPts = pts;
  std::lock_guard lock(statsMutex);
  ++stats.videoFrames;
  stats.durationMs = std::max(stats.durationMs, pts + duration);
}

void CRecordingSession::Shared::writeAudio(Item& item) {
  if (!writer.begun()) return;
  const auto length = static_cast<uint32_t>(item.bytes.size());
  const std::vector<int16_t>& samples = item.g726 ? audio.decodeG726(item.bytes.data(), length)
                                                  : audio.decodeAdpcm(item.bytes.data(), length);
  if (samples.empty()) return;
  const auto count = static_cast<int64_t>(samples.size());
  constexpr int64_t kSamplesPerMs = CMatroskaWriter::kAudioRate / 1000;
  // The block ended when it arrived. Blocks follow each other without gaps unless the stream
  // paused; never earlier than the file's start or the previous block's end.
  const int64_t arrivedStart = (item.arrivalMs - startMs) * kSamplesPerMs - count;
  if (!audioStarted || arrivedStart > audioNext + kAudioGapMs * kSamplesPerMs)
    audioNext = std::max({audioNext, arrivedStart, int64_t{0}});
  audioStarted = true;
  if (!writer.writeAudio(samples.data(), samples.size(), audioNext)) {
    fail("cannot write to " + stats.path);
    return;
  }
  audioNext += count;
  std::lock_guard lock(statsMutex);
  ++stats.audioBlocks;
  stats.durationMs = std::max(stats.durationMs, audioNext / kSamplesPerMs);
}

}  // namespace recording
