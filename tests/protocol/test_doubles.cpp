#include "test_doubles.h"

#include <algorithm>

#include "platform/messages.h"

int CRecordingWindow::onMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  ReceivedMessage received{msg, wParam, lParam, {}, {}, false};
  if (msg == msg::kReply && lParam != 0) {
    const auto* record = reinterpret_cast<const ReplyRecord*>(lParam);
    received.record = *record;
    received.record.body = nullptr;
    received.bodyWasNull = record->body == nullptr;
    if (record->body != nullptr) received.body.assign(record->body, record->body + record->length);
    messages.push_back(received);
    if (onReply) onReply(*record);
    return kHandled;
  }
  messages.push_back(received);
  return kHandled;
}

size_t CRecordingWindow::count(uint32_t msg) const {
  return static_cast<size_t>(std::count_if(messages.begin(), messages.end(),
                                           [msg](const auto& m) { return m.msg == msg; }));
}

std::vector<ReceivedMessage> CRecordingWindow::replies() const {
  std::vector<ReceivedMessage> out;
  for (const auto& m : messages)
    if (m.msg == msg::kReply) out.push_back(m);
  return out;
}

bool CRecordingCodecSink::decodeFrame(const uint8_t* frame, uint32_t length) {
  std::lock_guard lock(mutex_);
  frames_.emplace_back(frame, frame + length);
  return true;
}
std::vector<std::vector<uint8_t>> CRecordingCodecSink::frames() const {
  std::lock_guard lock(mutex_);
  return frames_;
}
size_t CRecordingCodecSink::count() const {
  std::lock_guard lock(mutex_);
  return frames_.size();
}

bool CRecordingJpegSink::drawJpegFrame(uint8_t* frame, uint32_t length) {
  for (uint32_t i = 0; i < kFrameReadSlack; ++i)
    if (frame[length + i] != 0) slackZero_ = false;
  // The decoder may scribble into the slack; the next frame must still find it zeroed.
  frame[length] = 0xAA;
  frame[length + 2] = 0xBB;
  std::lock_guard lock(mutex_);
  frames_.emplace_back(frame, frame + length);
  return true;
}
std::vector<std::vector<uint8_t>> CRecordingJpegSink::frames() const {
  std::lock_guard lock(mutex_);
  return frames_;
}
size_t CRecordingJpegSink::count() const {
  std::lock_guard lock(mutex_);
  return frames_.size();
}

void CRecordingAudioSink::add(std::string entry) {
  std::lock_guard lock(mutex_);
  log_.push_back(std::move(entry));
}
int32_t CRecordingAudioSink::open(WindowId) {
  add("open");
  return 0;
}
void CRecordingAudioSink::close() {
  mode_ = AudioCodecMode::G726;  // as the player does
  add("close");
}
int32_t CRecordingAudioSink::playG726(const uint8_t*, uint32_t length) {
  add("g726:" + std::to_string(length));
  return 0;
}
int32_t CRecordingAudioSink::playAdpcm(const uint8_t*, uint32_t length) {
  add("adpcm:" + std::to_string(length));
  return 0;
}
void CRecordingAudioSink::setMode(AudioCodecMode mode) {
  mode_ = mode;
  add(mode == AudioCodecMode::G726 ? "mode:g726" : "mode:adpcm");
}
std::vector<std::string> CRecordingAudioSink::log() const {
  std::lock_guard lock(mutex_);
  return log_;
}
size_t CRecordingAudioSink::plays() const {
  std::lock_guard lock(mutex_);
  return static_cast<size_t>(std::count_if(log_.begin(), log_.end(), [](const std::string& e) {
    return e.rfind("g726:", 0) == 0 || e.rfind("adpcm:", 0) == 0;
  }));
}

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
  return platform::processMessagesUntil(done, timeoutMs);
}
