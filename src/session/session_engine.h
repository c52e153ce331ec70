#pragma once
// The live session's workings: a message target that owns the DVR client, its reply queue and
// the frame puller, and drives the conversation from the replies, as the compact window does.
//
// Threads: every method and message handler runs on the owner's thread (the one running the Qt
// event loop), which also runs the listener's callbacks but onFrame. The client's receive
// threads post to this target; the reply queue's delivery thread sends replies to it; the
// puller's thread sends the frame requests; the live stream's receive thread runs onFrame.
#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "platform/message_window.h"
#include "protocol/live_frame_puller.h"
#include "protocol/reply_queue.h"
#include "session/live_session.h"

class CDvrClient;
struct ReplyRecord;

class CSessionEngine final : public CMessageWindow, public IChannelFrameSink {
 public:
  static constexpr uint32_t kConnectTimer = 300;
  static constexpr uint32_t kDisconnectTimer = 301;
  static constexpr uint32_t kStreamLostTimer = 302;
  static constexpr int kStreamLostGraceMs = 300;
  static constexpr uint32_t kAllChannels = (1u << kMaxFrameChannels) - 1;

  CSessionEngine(ISessionListener& listener, IAudioSink* audio);
  ~CSessionEngine() override;

  bool connect(const SessionTarget& target);
  void disconnect();

  SessionPhase phase() const { return phase_; }
  const DvrInfo& dvrInfo() const { return info_; }
  int16_t loginStatus() const { return loginStatus_; }

  void setWantedChannels(uint32_t mask);
  uint32_t wantedChannels() const { return wanted_; }
  uint32_t runningChannels() const { return running_; }
  void setChannelRateCap(uint8_t channel, int fps);

  void setAudioChannel(int channel);
  int audioChannel() const { return audioChannel_; }

  bool ptzControl(uint8_t channel, uint8_t command, uint8_t value);
  bool ptzPreset(uint8_t channel, uint8_t preset);

  uint64_t framesRequested(uint8_t channel) const { return puller_.requested(channel); }
  uint64_t framesDelivered(uint8_t channel) const { return puller_.delivered(channel); }
  CLiveFramePuller& puller() { return puller_; }

  int onMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;
  void onChannelFrame(const ChannelFrame& frame) override;

 private:
  // Replies (session_replies.cpp).
  void onReply(const ReplyRecord& record);
  void onAuthResult(const ReplyRecord& record, int16_t status);
  void onProductInfo(const uint8_t* body, uint32_t length);
  void onPtzActiveCam(const uint8_t* body, uint32_t length);
  void onLiveSetup(uint16_t status);
  void onLiveStart(const uint8_t* body, uint32_t length);
  void onLiveStop(const uint8_t* body, uint32_t length);
  void onLiveClose(uint16_t status);
  void onDisconnectReply(uint16_t status);
  void onNotice(const uint8_t* body);
  void onPtzControlReply(const uint8_t* body, uint32_t length);

  // Teardown and the rest (session_engine.cpp).
  void setPhase(SessionPhase phase, const std::string& statusText);
  void failPreparation(const std::string& message, const std::string& statusText);
  void end(SessionEnd reason, const std::string& statusText);
  void finishLocally();
  void onConnectTimeout();
  void startWanted();
  void updatePulled();
  void applyAudio();
  void closeAudio();
  uint32_t availableMask() const;
  std::string statusText(std::string_view pattern) const;

  ISessionListener& listener_;
  IAudioSink* const audio_;
  CLiveFramePuller puller_{*this};
  ReplyQueue queue_;
  std::unique_ptr<CDvrClient> client_;

  // Owner's thread only.
  SessionTarget target_;
  SessionPhase phase_ = SessionPhase::Idle;
  DvrInfo info_;
  int16_t loginStatus_ = 0;
  uint32_t wanted_ = 0;
  uint32_t running_ = 0;
  uint32_t refused_ = 0;
  uint32_t requestedTotal_ = 0;      // bits of the live starts not answered yet
  std::deque<uint32_t> liveStarts_;  // their masks, oldest first
  std::array<int, kMaxFrameChannels> rateCaps_{};
  bool controlUp_ = false;  // the control connection logged in
  bool liveClosePending_ = false;  // REQ_LIVECLOSE of the orderly disconnect went out
  bool dvrLeft_ = false;           // a power-off or setup notice came
  std::string lastNotice_;
  int audioChannel_ = -1;
  bool audioOn_ = false;
};
