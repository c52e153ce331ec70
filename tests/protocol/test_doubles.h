#pragma once
// Recording stand-ins for the main window, the decoders and the audio player.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "audio/audio_sink.h"
#include "platform/message_window.h"
#include "protocol/reply_queue.h"
#include "video/frame_sinks.h"

struct ReceivedMessage {
  uint32_t msg = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
  ReplyRecord record{};       // for 4026: a copy, body pointer cleared
  std::vector<uint8_t> body;  // for 4026: the body's bytes
  bool bodyWasNull = false;   // for 4026
};

// Handlers run on the UI thread, which is also the test's thread.
class CRecordingWindow final : public CMessageWindow {
 public:
  int onMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;
  size_t count(uint32_t msg) const;
  std::vector<ReceivedMessage> replies() const;  // the 4026 messages in order
  std::vector<ReceivedMessage> messages;
  // Called for each 4026 after it has been recorded.
  std::function<void(const ReplyRecord&)> onReply;
};

class CRecordingCodecSink final : public ICodecFrameSink {
 public:
  bool decodeFrame(const uint8_t* frame, uint32_t length) override;
  std::vector<std::vector<uint8_t>> frames() const;
  size_t count() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::vector<uint8_t>> frames_;
};

class CRecordingJpegSink final : public IJpegFrameSink {
 public:
  bool drawJpegFrame(uint8_t* frame, uint32_t length) override;
  std::vector<std::vector<uint8_t>> frames() const;
  size_t count() const;
  bool slackAlwaysZero() const { return slackZero_.load(); }

 private:
  mutable std::mutex mutex_;
  std::vector<std::vector<uint8_t>> frames_;
  std::atomic<bool> slackZero_{true};
};

// Logs "open", "close", "mode:g726", "mode:adpcm", "g726:<n>", "adpcm:<n>".
class CRecordingAudioSink final : public IAudioSink {
 public:
  int32_t open(WindowId window) override;
  void close() override;
  int32_t playG726(const uint8_t* payload, uint32_t length) override;
  int32_t playAdpcm(const uint8_t* payload, uint32_t length) override;
  AudioCodecMode mode() const override { return mode_.load(); }
  void setMode(AudioCodecMode mode) override;
  std::vector<std::string> log() const;
  size_t plays() const;

 private:
  void add(std::string entry);
  mutable std::mutex mutex_;
  std::vector<std::string> log_;
  std::atomic<AudioCodecMode> mode_{AudioCodecMode::G726};
};

// Pumps the UI thread until done() or 5 s.
bool waitFor(const std::function<bool()>& done, int timeoutMs = 5000);
