#include "monitor/monitor_capture.h"

#include <chrono>

namespace {
constexpr auto kCloseWait = std::chrono::milliseconds(2000);

int64_t steadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

CMonitorCapture::CMonitorCapture(std::function<void()> onNews) : onNews_(std::move(onNews)) {}

CMonitorCapture::~CMonitorCapture() {
  stopRecording();
  for (auto& session : closing_) {
    if (!session->waitUntilClosed(kCloseWait)) session->abandon();
  }
}

void CMonitorCapture::offer(const LiveFrame& frame) {
  using recording::kFrameHeaderSize;
  if (frame.channel >= stores_.size() || frame.data == nullptr || frame.length <= kFrameHeaderSize)
    return;
  const uint8_t* coded = frame.data + kFrameHeaderSize;
  const size_t codedLength = frame.length - kFrameHeaderSize;
  recording::CSnapshotStore& store = stores_[frame.channel];
  const bool recorded = recordingChannel_.load(std::memory_order_acquire) == frame.channel;
  recording::OfferedFrame offered;
  offered.arrivalMs = steadyMs();
  std::lock_guard lock(mutex_);
  Stream& stream = streams_[frame.channel];
  if (frame.codec == LiveCodec::Mpeg4) {
    const recording::Mpeg4FrameInfo info = recording::inspectMpeg4(coded, codedLength);
    if (info.volLength > 0) {
      stream.volConfig.assign(coded + info.volOffset, coded + info.volOffset + info.volLength);
      if (info.size) stream.volSize = info.size;
    }
    store.keepMpeg4(coded, codedLength, info);
    if (!recorded || !info.hasPicture || !recording_) return;
    offered.codec = recording::VideoCodec::Mpeg4;
    offered.data = coded;
    offered.length = codedLength;
    offered.keyFrame = info.keyFrame;
    if (info.keyFrame) offered.size = stream.volSize;
    offered.config = &stream.volConfig;
  } else {
    const auto start = recording::findJpegStart(coded, codedLength);
    if (!start) return;
    const uint8_t* jpeg = coded + *start;
    const size_t jpegLength = codedLength - *start;
    store.keepJpeg(jpeg, jpegLength);
    if (!recorded || !recording_) return;
    offered.codec = recording::VideoCodec::Jpeg;
    offered.data = jpeg;
    offered.length = jpegLength;
    offered.keyFrame = true;
    offered.size = recording::jpegPictureSize(jpeg, jpegLength);
  }
  recording_->offerVideo(offered);
}

QImage CMonitorCapture::snapshot(int channel) const {
  if (channel < 0 || channel >= static_cast<int>(stores_.size())) return {};
  return stores_[static_cast<size_t>(channel)].snapshot();
}

void CMonitorCapture::clear() {
  for (auto& store : stores_) store.clear();
}

bool CMonitorCapture::startRecording(int channel, const std::string& path, std::string* error) {
  reap();
  if (channel < 0 || channel >= static_cast<int>(stores_.size())) {
    if (error != nullptr) *error = "no channel";
    return false;
  }
  std::unique_ptr<recording::CRecordingSession> previous;
  {
    std::lock_guard lock(mutex_);
    if (recording_ && !recording_->ending()) {
      if (error != nullptr) *error = "already recording to " + recording_->path();
      return false;
    }
    previous = std::move(recording_);
  }
  if (previous) closing_.push_back(std::move(previous));
  // The writer thread reports through state it shares, so a late report never touches this.
  auto session = recording::CRecordingSession::start(
      path, platform::ExistingFile::Numbered, true,
      [mutex = eventsMutex_, events = events_, news = onNews_](const recording::RecordingStats& s) {
        {
          std::lock_guard lock(*mutex);
          events->push_back(s);
        }
        if (news) news();
      });
  std::lock_guard lock(mutex_);
  recording_ = std::move(session);
  recordingChannel_.store(channel, std::memory_order_release);
  return true;
}

void CMonitorCapture::stopRecording() {
  std::unique_ptr<recording::CRecordingSession> session;
  {
    std::lock_guard lock(mutex_);
    session = std::move(recording_);
    recordingChannel_.store(-1, std::memory_order_release);
  }
  if (!session) return;
  session->end(recording::RecordingEnd::Stopped);
  closing_.push_back(std::move(session));
  reap();
}

std::vector<recording::RecordingStats> CMonitorCapture::takeEvents() {
  reap();
  std::lock_guard lock(*eventsMutex_);
  std::vector<recording::RecordingStats> taken;
  taken.swap(*events_);
  return taken;
}

// Writers that closed their files are joined; the others keep closing on their own.
void CMonitorCapture::reap() {
  std::erase_if(closing_, [](const auto& session) {
    return session->waitUntilClosed(std::chrono::milliseconds(0));
  });
}
