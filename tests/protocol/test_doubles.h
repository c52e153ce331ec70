#pragma once
// Recording stand-ins for the main window, the decoders and the audio player.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/message_window.h"
#include "platform/messages.h"
#include "protocol/audio_sink.h"
#include "protocol/frame_sinks.h"
#include "protocol/reply_queue.h"

using Bytes = std::vector<uint8_t>;

struct ReceivedMessage {
  uint32_t msg = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
  ReplyRecord record{};      // for 4026: a copy, body pointer cleared
  Bytes body;                // for 4026: the body's bytes
  bool bodyWasNull = false;  // for 4026
};

// A 4026 as one comparable value: command, subCode, kind, index, length, body, body was null.
using ReplyFields = std::tuple<uint32_t, uint32_t, int, int, uint32_t, Bytes, bool>;
inline ReplyFields fields(const ReceivedMessage& r) {
  return {r.record.command, r.record.subCode, r.record.kind, r.record.index,
          r.record.length,  r.body,           r.bodyWasNull};
}

// Handlers run on the UI thread, which is also the test's thread.
class CRecordingWindow final : public CMessageWindow {
 public:
  int onMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
    ReceivedMessage received{msg, wParam, lParam, {}, {}, false};
    const auto* record = reinterpret_cast<const ReplyRecord*>(lParam);
    if (msg == msg::kReply && record != nullptr) {
      received.record = *record;
      received.record.body = nullptr;
      received.bodyWasNull = record->body == nullptr;
      if (record->body != nullptr)
        received.body.assign(record->body, record->body + record->length);
    }
    messages.push_back(received);
    if (msg == msg::kReply && record != nullptr && onReply) onReply(*record);
    return kHandled;
  }
  size_t count(uint32_t msg) const {
    return static_cast<size_t>(std::count_if(messages.begin(), messages.end(),
                                             [msg](const auto& m) { return m.msg == msg; }));
  }
  // The first message numbered msg, or null.
  const ReceivedMessage* find(uint32_t msg) const {
    const auto it = std::find_if(messages.begin(), messages.end(),
                                 [msg](const auto& m) { return m.msg == msg; });
    return it == messages.end() ? nullptr : &*it;
  }
  std::vector<ReceivedMessage> replies() const {  // the 4026 messages in order
    std::vector<ReceivedMessage> out;
    std::copy_if(messages.begin(), messages.end(), std::back_inserter(out),
                 [](const auto& m) { return m.msg == msg::kReply; });
    return out;
  }
  std::vector<ReceivedMessage> messages;
  std::function<void(const ReplyRecord&)> onReply;  // called for each 4026 after recording it
};

// Frames as they reached a decoder, from the receive thread.
class CFrameLog {
 public:
  std::vector<Bytes> frames() const {
    std::lock_guard lock(mutex_);
    return frames_;
  }
  size_t count() const { return frames().size(); }

 protected:
  void add(const uint8_t* frame, uint32_t length) {
    std::lock_guard lock(mutex_);
    frames_.emplace_back(frame, frame + length);
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Bytes> frames_;
};

class CRecordingCodecSink final : public ICodecFrameSink, public CFrameLog {
 public:
  bool decodeFrame(const uint8_t* frame, uint32_t length) override {
    decoding = true;
    if (const int ms = delayMs.load()) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    add(frame, length);
    decoding = false;
    return true;
  }
  std::atomic<int> delayMs{0};  // a slow decoder
  std::atomic<bool> decoding{false};
};

class CRecordingJpegSink final : public IJpegFrameSink, public CFrameLog {
 public:
  bool drawJpegFrame(uint8_t* frame, uint32_t length) override {
    for (uint32_t i = 0; i < kFrameReadSlack; ++i)
      if (frame[length + i] != 0) slackZero_ = false;
    // The decoder may scribble into the slack; the next frame must still find it zeroed.
    frame[length] = 0xAA;
    frame[length + 2] = 0xBB;
    add(frame, length);
    return true;
  }
  bool slackAlwaysZero() const { return slackZero_.load(); }

 private:
  std::atomic<bool> slackZero_{true};
};

// Logs "open", "close", "mode:g726", "mode:adpcm", "g726:<n>", "adpcm:<n>".
class CRecordingAudioSink final : public IAudioSink {
 public:
  int32_t open(WindowId) override {
    add("open");
    return 0;
  }
  void close() override {
    mode_ = AudioCodecMode::G726;  // as the player does
    add("close");
  }
  int32_t playG726(const uint8_t*, uint32_t n) override {
    add("g726:" + std::to_string(n));
    return 0;
  }
  int32_t playAdpcm(const uint8_t*, uint32_t n) override {
    add("adpcm:" + std::to_string(n));
    return 0;
  }
  AudioCodecMode mode() const override { return mode_.load(); }
  void setMode(AudioCodecMode mode) override {
    mode_ = mode;
    add(mode == AudioCodecMode::G726 ? "mode:g726" : "mode:adpcm");
  }
  std::vector<std::string> log() const {
    std::lock_guard lock(mutex_);
    return log_;
  }
  size_t plays() const {
    const auto all = log();
    return static_cast<size_t>(std::count_if(all.begin(), all.end(), [](const std::string& e) {
      return e.starts_with("g726:") || e.starts_with("adpcm:");
    }));
  }

 private:
  void add(std::string entry) {
    std::lock_guard lock(mutex_);
    log_.push_back(std::move(entry));
  }
  mutable std::mutex mutex_;
  std::vector<std::string> log_;
  std::atomic<AudioCodecMode> mode_{AudioCodecMode::G726};
};

// Pumps the UI thread until done() or the time-out.
inline bool waitFor(const std::function<bool()>& done, int timeoutMs = 5000) {
  return platform::processMessagesUntil(done, timeoutMs);
}

// Waits without pumping: sends to windows stay pending meanwhile.
inline bool waitUnpumped(const std::function<bool()>& done, int timeoutMs = 5000) {
  for (int waited = 0; !done(); ++waited) {
    if (waited >= timeoutMs) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}
