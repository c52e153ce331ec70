#include "recording/recording_session.h"

#include <algorithm>
#include <filesystem>
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

std::unique_ptr<CRecordingSession> CRecordingSession::start(const std::string& path,
                                                            EndHandler onEnd, std::string* error) {
  auto writer = std::make_unique<CMatroskaWriter>();
  if (!writer->open(path, error)) return nullptr;
  std::unique_ptr<CRecordingSession> session(
      new CRecordingSession(path, std::move(writer), std::move(onEnd)));
  session->thread_ = std::thread(&CRecordingSession::writerLoop, session.get());
  return session;
}

CRecordingSession::CRecordingSession(std::string path, std::unique_ptr<CMatroskaWriter> writer,
                                     EndHandler onEnd)
    : path_(std::move(path)), onEnd_(std::move(onEnd)), writer_(std::move(writer)) {
  stats_.path = path_;
}

CRecordingSession::~CRecordingSession() {
  finish();
}

void CRecordingSession::offerVideo(const OfferedFrame& frame) {
  std::lock_guard lock(mutex_);
  if (endRequested_) return;
  Item item;
  item.kind = Item::Kind::Video;
  if (!started_) {
    // The file starts at a picture that stands alone and whose size is known.
    if (!frame.keyFrame || !frame.size) return;
    VideoTrack track{frame.codec, *frame.size, {}};
    if (frame.config != nullptr) track.extradata = *frame.config;
    item.begin = std::move(track);
  } else if (frame.codec != codec_ || (frame.size && *frame.size != size_)) {
    endLocked(RecordingEnd::StreamChanged);
    return;
  }
  auto countDropped = [this] {
    std::lock_guard statsLock(statsMutex_);
    ++stats_.droppedFrames;
  };
  if (awaitKeyFrame_ && !frame.keyFrame) {
    countDropped();  // would not decode without the lost picture before it
    return;
  }
  item.bytes.assign(frame.data, frame.data + frame.length);
  item.arrivalMs = frame.arrivalMs;
  item.keyFrame = frame.keyFrame;
  const bool first = !started_;
  if (!pushLocked(std::move(item))) {
    countDropped();
    awaitKeyFrame_ = frame.codec == VideoCodec::Mpeg4;
    return;
  }
  awaitKeyFrame_ = false;
  if (first) {
    started_ = true;
    codec_ = frame.codec;
    size_ = *frame.size;
  }
}

void CRecordingSession::offerAudio(bool g726, const uint8_t* payload, uint32_t length,
                                   int64_t arrivalMs) {
  std::lock_guard lock(mutex_);
  if (endRequested_ || !started_) return;  // the file's time starts with its first picture
  Item item;
  item.kind = Item::Kind::Audio;
  item.bytes.assign(payload, payload + length);
  item.arrivalMs = arrivalMs;
  item.g726 = g726;
  if (!pushLocked(std::move(item))) {
    std::lock_guard statsLock(statsMutex_);
    ++stats_.droppedAudioBlocks;
  }
}

bool CRecordingSession::pushLocked(Item&& item) {
  if (queue_.size() >= kMaxQueuedItems || queuedBytes_ + item.bytes.size() > kMaxQueuedBytes)
    return false;
  queuedBytes_ += item.bytes.size();
  queue_.push_back(std::move(item));
  wake_.notify_one();
  return true;
}

void CRecordingSession::end(RecordingEnd reason) {
  std::lock_guard lock(mutex_);
  endLocked(reason);
}

void CRecordingSession::endLocked(RecordingEnd reason) {
  if (endRequested_) return;
  endRequested_ = true;
  endReason_ = reason;
  queue_.push_back(Item{});  // the end marker, beyond the bounds: it must always get through
  wake_.notify_one();
}

void CRecordingSession::finish() {
  end(RecordingEnd::Stopped);
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

bool CRecordingSession::ending() const {
  std::lock_guard lock(mutex_);
  return endRequested_;
}

RecordingStats CRecordingSession::stats() const {
  std::lock_guard lock(statsMutex_);
  return stats_;
}

void CRecordingSession::fail(const std::string& error) {
  failed_ = true;
  {
    std::lock_guard lock(statsMutex_);
    if (stats_.error.empty()) stats_.error = error;
  }
  end(RecordingEnd::WriteFailed);
}

void CRecordingSession::writerLoop() {
  for (;;) {
    Item item;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return !queue_.empty(); });
      item = std::move(queue_.front());
      queue_.pop_front();
      queuedBytes_ -= item.bytes.size();
    }
    if (item.kind == Item::Kind::End) break;
    if (failed_) continue;  // drain up to the end marker that fail() queued
    if (item.kind == Item::Kind::Video) writeVideo(item);
    if (item.kind == Item::Kind::Audio) writeAudio(item);
  }

  const bool begun = writer_->begun();
  const bool closed = writer_->finish();
  if (!begun) {
    // Nothing was recorded: leave no empty, unplayable file behind.
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  RecordingStats final;
  {
    std::lock_guard lock(mutex_);
    std::lock_guard statsLock(statsMutex_);
    stats_.end = endReason_;
    if (!closed || failed_) {
      stats_.end = RecordingEnd::WriteFailed;
      if (stats_.error.empty()) stats_.error = "cannot finish " + path_;
    }
    final = stats_;
  }
  if (onEnd_) onEnd_(final);
}

void CRecordingSession::writeVideo(Item& item) {
  if (item.begin) {
    std::string error;
    if (!writer_->begin(*item.begin, &error)) {
      fail(error);
      return;
    }
    startMs_ = item.arrivalMs;
  }
  if (!writer_->begun()) return;
  // Arrival times, strictly increasing; each picture lasts as long as the gap before it (the
  // best guess for the next one).
  const int64_t pts = std::max(item.arrivalMs - startMs_, lastVideoPts_ + 1);
  const int64_t duration = lastVideoPts_ >= 0 ? pts - lastVideoPts_ : 0;
  if (!writer_->writeVideo(item.bytes.data(), item.bytes.size(), pts, duration, item.keyFrame)) {
    fail("cannot write to " + path_);
    return;
  }
  lastVideoPts_ = pts;
  std::lock_guard lock(statsMutex_);
  ++stats_.videoFrames;
  stats_.durationMs = std::max(stats_.durationMs, pts + duration);
}

void CRecordingSession::writeAudio(Item& item) {
  if (!writer_->begun()) return;
  const auto length = static_cast<uint32_t>(item.bytes.size());
  const std::vector<int16_t>& samples = item.g726 ? audio_.decodeG726(item.bytes.data(), length)
                                                  : audio_.decodeAdpcm(item.bytes.data(), length);
  if (samples.empty()) return;
  const auto count = static_cast<int64_t>(samples.size());
  constexpr int64_t kSamplesPerMs = CMatroskaWriter::kAudioRate / 1000;
  // The block ended when it arrived. Blocks follow each other without gaps unless the stream
  // paused; never earlier than the file's start or the previous block's end.
  const int64_t arrivedStart = (item.arrivalMs - startMs_) * kSamplesPerMs - count;
  if (!audioStarted_ || arrivedStart > audioNext_ + kAudioGapMs * kSamplesPerMs)
    audioNext_ = std::max({audioNext_, arrivedStart, int64_t{0}});
  audioStarted_ = true;
  if (!writer_->writeAudio(samples.data(), samples.size(), audioNext_)) {
    fail("cannot write to " + path_);
    return;
  }
  audioNext_ += count;
  std::lock_guard lock(statsMutex_);
  ++stats_.audioBlocks;
  stats_.durationMs = std::max(stats_.durationMs, audioNext_ / kSamplesPerMs);
}

}  // namespace recording
