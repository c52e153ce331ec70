#include "recording/live_tap.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "recording/frame_inspect.h"

using recording::CRecordingSession;
using recording::kFrameHeaderSize;
using recording::OfferedFrame;
using recording::RecordingStats;
using recording::VideoCodec;

namespace {
int64_t steadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

CLiveTap::CLiveTap(ICodecFrameSink& decoder, IJpegFrameSink& renderer, IAudioSink& player,
                   ClockMs clock)
    : decoder_(decoder),
      renderer_(renderer),
      player_(player),
      clock_(clock ? std::move(clock) : ClockMs(steadyMs)) {}

CLiveTap::~CLiveTap() {
  finishRecordings();
}

bool CLiveTap::decodeFrame(const uint8_t* frame, uint32_t length) {
  if (frame != nullptr && length > kFrameHeaderSize) {
    const uint8_t* coded = frame + kFrameHeaderSize;
    const size_t codedLength = length - kFrameHeaderSize;
    const recording::Mpeg4FrameInfo info = recording::inspectMpeg4(coded, codedLength);
    if (info.volLength > 0) {
      volConfig_.assign(coded + info.volOffset, coded + info.volOffset + info.volLength);
      if (info.size) volSize_ = info.size;
    }
    snapshots_.keepMpeg4(coded, codedLength, info);
    if (info.hasPicture && sessionOpen_.load(std::memory_order_acquire)) {
      OfferedFrame offered;
      offered.codec = VideoCodec::Mpeg4;
      offered.data = coded;
      offered.length = codedLength;
      offered.keyFrame = info.keyFrame;
      if (info.keyFrame) offered.size = volSize_;  // size changes come with the key frames
      offered.config = &volConfig_;
      offered.arrivalMs = clock_();
      std::lock_guard lock(sessionMutex_);
      if (session_) session_->offerVideo(offered);
    }
  }
  return decoder_.decodeFrame(frame, length);
}

bool CLiveTap::drawJpegFrame(uint8_t* frame, uint32_t length) {
  // Before forwarding: the JPEG decoder rewrites the end of the frame in place.
  if (frame != nullptr && length > kFrameHeaderSize) {
    const uint8_t* area = frame + kFrameHeaderSize;
    const size_t areaLength = length - kFrameHeaderSize;
    if (const auto start = recording::findJpegStart(area, areaLength)) {
      const uint8_t* jpeg = area + *start;
      const size_t jpegLength = areaLength - *start;
      snapshots_.keepJpeg(jpeg, jpegLength);
      if (sessionOpen_.load(std::memory_order_acquire)) {
        OfferedFrame offered;
        offered.codec = VideoCodec::Jpeg;
        offered.data = jpeg;
        offered.length = jpegLength;
        offered.keyFrame = true;
        offered.size = recording::jpegPictureSize(jpeg, jpegLength);
        offered.arrivalMs = clock_();
        std::lock_guard lock(sessionMutex_);
        if (session_) session_->offerVideo(offered);
      }
    }
  }
  return renderer_.drawJpegFrame(frame, length);
}

int32_t CLiveTap::open(WindowId window) {
  return player_.open(window);
}

void CLiveTap::close() {
  player_.close();
}

int32_t CLiveTap::playG726(const uint8_t* payload, uint32_t length) {
  if (sessionOpen_.load(std::memory_order_acquire) && payload != nullptr) {
    const int64_t now = clock_();
    std::lock_guard lock(sessionMutex_);
    if (session_) session_->offerAudio(true, payload, length, now);
  }
  return player_.playG726(payload, length);
}

int32_t CLiveTap::playAdpcm(const uint8_t* payload, uint32_t length) {
  if (sessionOpen_.load(std::memory_order_acquire) && payload != nullptr) {
    const int64_t now = clock_();
    std::lock_guard lock(sessionMutex_);
    if (session_) session_->offerAudio(false, payload, length, now);
  }
  return player_.playAdpcm(payload, length);
}

AudioCodecMode CLiveTap::mode() const {
  return player_.mode();
}

void CLiveTap::setMode(AudioCodecMode mode) {
  player_.setMode(mode);
}

QImage CLiveTap::snapshot() const {
  return snapshots_.snapshot();
}

void CLiveTap::clearSnapshot() {
  snapshots_.clear();
}

bool CLiveTap::startRecording(const std::string& path, platform::ExistingFile existing,
                              std::string* error, bool makeFolder) {
  reapClosed();
  std::unique_ptr<CRecordingSession> previous;
  {
    std::lock_guard lock(sessionMutex_);
    if (session_ && !session_->ending()) {
      if (error != nullptr) *error = "already recording to " + recordingPathLocked();
      return false;
    }
    previous = std::move(session_);
    sessionOpen_.store(false, std::memory_order_release);
  }
  if (previous) closing_.push_back(std::move(previous));  // one that ended by itself
  const uint64_t id = ++sessionId_;
  auto session = CRecordingSession::start(
      path, existing, makeFolder, [this, id](const RecordingStats& stats) { addEvent(id, stats); });
  {
    std::lock_guard lock(eventMutex_);
    lastStats_ = session->stats();
    lastStatsId_ = id;
  }
  std::lock_guard lock(sessionMutex_);
  session_ = std::move(session);
  sessionOpen_.store(true, std::memory_order_release);
  return true;
}

void CLiveTap::stopRecording() {
  std::unique_ptr<CRecordingSession> session;
  {
    std::lock_guard lock(sessionMutex_);
    session = std::move(session_);
    sessionOpen_.store(false, std::memory_order_release);
  }
  if (session) {
    {
      // Its figures so far, until the writer reports the final ones.
      std::lock_guard lock(eventMutex_);
      if (lastStatsId_ == sessionId_ && lastStats_.end == recording::RecordingEnd::Running)
        lastStats_ = session->stats();
    }
    session->end(recording::RecordingEnd::Stopped);
    closing_.push_back(std::move(session));
  }
  reapClosed();
}

bool CLiveTap::finishRecordings(std::chrono::milliseconds wait) {
  stopRecording();
  const auto deadline = std::chrono::steady_clock::now() + wait;
  bool allClosed = true;
  for (auto& session : closing_) {
    const auto left = std::max(std::chrono::milliseconds(0),
                               std::chrono::duration_cast<std::chrono::milliseconds>(
                                   deadline - std::chrono::steady_clock::now()));
    if (session->waitUntilClosed(left)) continue;
    // Storage that stopped answering must not hold up the viewer (or its quit).
    session->abandon();
    allClosed = false;
    RecordingStats stats = session->stats();
    stats.end = recording::RecordingEnd::Abandoned;
    stats.error = "the disk did not finish " + stats.path + " in time; the recording was abandoned";
    addEvent(0, stats);
  }
  closing_.clear();
  return allClosed;
}

void CLiveTap::reapClosed() {
  std::erase_if(closing_, [](const std::unique_ptr<CRecordingSession>& session) {
    return session->waitUntilClosed(std::chrono::milliseconds(0));
  });
}

bool CLiveTap::recording() const {
  std::lock_guard lock(sessionMutex_);
  return session_ && !session_->ending();
}

std::string CLiveTap::recordingPath() const {
  std::lock_guard lock(sessionMutex_);
  return session_ && !session_->ending() ? recordingPathLocked() : std::string();
}

std::string CLiveTap::recordingPathLocked() const {
  return session_->stats().path;
}

RecordingStats CLiveTap::recordingStats() const {
  {
    std::lock_guard lock(sessionMutex_);
    if (session_) return session_->stats();
  }
  std::lock_guard lock(eventMutex_);
  return lastStats_;
}

std::vector<RecordingStats> CLiveTap::takeRecordingEvents() {
  std::lock_guard lock(eventMutex_);
  return std::exchange(events_, {});
}

void CLiveTap::setRecordingEventHandler(RecordingEventHandler handler) {
  std::lock_guard lock(eventMutex_);
  eventHandler_ = std::move(handler);
}

void CLiveTap::addEvent(uint64_t session, const RecordingStats& stats) {
  RecordingEventHandler handler;
  {
    std::lock_guard lock(eventMutex_);
    events_.push_back(stats);
    if (session == 0 || session == lastStatsId_) lastStats_ = stats;
    handler = eventHandler_;
  }
  if (handler) handler(stats);
}
