#include "session/session_engine.h"

#include <algorithm>

#include "platform/messages.h"
#include "protocol/audio_sink.h"
#include "protocol/dvr_client.h"
#include "session/session_texts.h"

namespace {

constexpr uint8_t kPresetCode = 21;
}  // namespace

CSessionEngine::CSessionEngine(ISessionListener& listener, IAudioSink* audio)
    : listener_(listener), audio_(audio) {
  queue_.start(windowId());
}

CSessionEngine::~CSessionEngine() {
  // The pull thread sends on the client's live stream: it ends first. The client then joins
  // its receive threads (which route into the puller and post to this target), and the queue's
  // delivery thread, which may wait in a send to this target, is withdrawn last.
  puller_.stop();
  if (audioOn_ && audio_ != nullptr) audio_->close();
  client_.reset();
  queue_.stop();
  unregisterWindow();
}

std::string CSessionEngine::statusText(std::string_view pattern) const {
  return session_text::format(pattern, target_.address);
}

bool CSessionEngine::connect(const SessionTarget& target) {
  if (client_ || phase_ != SessionPhase::Idle) return false;
  if (target.address.empty() || target.userId.empty() || target.password.empty() ||
      target.port == 0) {
    return false;
  }
  auto client = std::make_unique<CDvrClient>();
  if (client->attach(0, windowId(), &queue_) != 1 || client->attachRouted(&puller_, audio_) != 1)
    return false;
  client->setLinkTimeoutMs(target.linkTimeoutMs);
  ConnectionState& state = client->state();
  if (state.setUserId(target.userId) == 0 || state.setPassword(target.password) == 0) return false;
  state.setDisplayName(target.address);
  state.setNameIsAddress(true);

  target_ = target;
  // The client holds the password from here on; no second copy lingers in the session.
  std::fill(target_.password.begin(), target_.password.end(), '\0');
  target_.password.clear();
  info_ = DvrInfo{};
  loginStatus_ = 0;
  running_ = 0;
  refused_ = 0;
  requestedTotal_ = 0;
  liveStarts_.clear();
  controlUp_ = false;
  liveClosePending_ = false;
  dvrLeft_ = false;
  lastNotice_.clear();
  audioOn_ = false;
  puller_.setPulled(0);
  puller_.forgetOutstanding();
  puller_.resetCounters();  // no stream of this session runs yet
  client_ = std::move(client);
  // The name is resolved on the control thread: connect never blocks the caller.
  if (client_->connectControl(target.address, target.port) != 1) {
    client_.reset();
    return false;
  }
  setTimer(kConnectTimer, target.connectTimeoutMs > 0 ? target.connectTimeoutMs : 10000);
  setPhase(SessionPhase::Connecting, statusText(session_text::kConnecting));
  return true;
}

void CSessionEngine::disconnect() {
  if (!client_) return;
  puller_.setPulled(0);
  // The orderly way needs the live stream (REQ_LIVECLOSE starts it) and a DVR that answers.
  if (phase_ == SessionPhase::Ready && client_->stream().isRunning()) {
    closeAudio();
    if (client_->requestLiveClose() == 1) {
      liveClosePending_ = true;
      // A DVR that never answers doesn't keep the session half-closed.
      setTimer(kDisconnectTimer, target_.connectTimeoutMs > 0 ? target_.connectTimeoutMs : 10000);
      setPhase(SessionPhase::Disconnecting, statusText(session_text::kConnected));
      return;
    }
  }
  finishLocally();
}

void CSessionEngine::finishLocally() {
  end(SessionEnd::UserDisconnect, std::string());
}

void CSessionEngine::setPhase(SessionPhase phase, const std::string& statusText) {
  phase_ = phase;
  listener_.onPhaseChanged(phase, statusText);
}

void CSessionEngine::failPreparation(const std::string& message, const std::string& statusText) {
  if (!message.empty()) listener_.onMessage(message);
  end(SessionEnd::PreparationFailed, statusText);
}

void CSessionEngine::end(SessionEnd reason, const std::string& statusText) {
  if (!client_) return;
  killTimer(kConnectTimer);
  killTimer(kDisconnectTimer);
  killTimer(kStreamLostTimer);
  puller_.stop();
  puller_.setPulled(0);
  closeAudio();
  // Every connection of the session closes now (live stream, audio and notice with the control
  // connection), so nothing stays logged in at the DVR.
  client_->disconnectControl();
  client_.reset();
  const bool hadChannels = running_ != 0 || refused_ != 0;
  running_ = 0;
  refused_ = 0;
  requestedTotal_ = 0;
  liveStarts_.clear();
  controlUp_ = false;
  liveClosePending_ = false;
  if (hadChannels) listener_.onChannelsChanged(0, 0);
  setPhase(SessionPhase::Idle, statusText);
  listener_.onEnded(reason, statusText);
}

void CSessionEngine::onConnectTimeout() {
  killTimer(kConnectTimer);
  if (!client_ || phase_ != SessionPhase::Connecting) return;
  // A DVR that let us in but stalled a step of the preparation is told apart from one that
  // never answered at all.
  end(controlUp_ ? SessionEnd::PreparationFailed : SessionEnd::ConnectTimeout,
      statusText(session_text::kConnectTimeout));
}

int CSessionEngine::onMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  switch (msg) {
    case msg::kReply: {
      const auto* record = reinterpret_cast<const ReplyRecord*>(lParam);
      if (record != nullptr) onReply(*record);
      return kHandled;
    }
    case msg::kControlConnectResult:
      // Posted messages carry no session: the client's own flag says whether this is its news.
      if (lParam < 0 && client_ && client_->connectFailed())
        end(SessionEnd::ConnectFailed, statusText(session_text::kConnectFailure));
      return kHandled;
    case msg::kControlLinkLost:
      if (client_ && client_->linkLost()) {
        // A power-off or setup notice stays the last word when the link goes after it.
        end(SessionEnd::LinkLost, dvrLeft_ ? lastNotice_ : statusText(session_text::kDisconnected));
      }
      return kHandled;
    case msg::kLiveStreamLost:
      if (!client_ || !client_->stream().lost() || liveClosePending_) return kHandled;
      if (client_->stream().connectFailed())
        listener_.onMessage(std::string(session_text::kLiveStreamConnect));
      // A DVR that goes away closes the live stream with the control connection, in either
      // order: a moment's grace lets the link's own loss name the end.
      puller_.setPulled(0);
      setTimer(kStreamLostTimer, kStreamLostGraceMs);
      return kHandled;
    case msg::kTimer:
      if (wParam == kConnectTimer) onConnectTimeout();
      if (wParam == kDisconnectTimer) finishLocally();
      if (wParam == kStreamLostTimer) {
        killTimer(kStreamLostTimer);
        end(SessionEnd::StreamLost,
            dvrLeft_ ? lastNotice_ : statusText(session_text::kDisconnected));
      }
      return kHandled;
    case msg::kWaveOutOpen:
    case msg::kWaveOutDone:
    case msg::kWaveOutClose:
      // The session hosts the audio sink: the device's notifications are the sink's.
      if (audio_ != nullptr) audio_->onDeviceMessage(msg, wParam);
      return kHandled;
    default:
      return kRefused;
  }
}

uint32_t CSessionEngine::availableMask() const {
  uint32_t mask = kAllChannels & ~info_.disabledMask;
  if (info_.channelCount > 0 && info_.channelCount < kMaxFrameChannels)
    mask &= (1u << info_.channelCount) - 1;
  return mask;
}

void CSessionEngine::setWantedChannels(uint32_t mask) {
  const uint32_t removed = wanted_ & ~mask;
  wanted_ = mask & kAllChannels;
  // A channel taken away and wanted again is asked for again.
  refused_ &= ~removed;
  if (phase_ != SessionPhase::Ready) return;
  startWanted();
  updatePulled();
}

void CSessionEngine::startWanted() {
  const uint32_t toStart = wanted_ & availableMask() & ~running_ & ~requestedTotal_ & ~refused_;
  if (toStart == 0 || !client_) return;
  // Only the new bits: channels running already stay as they are, the live stream isn't rebuilt.
  if (client_->requestLiveStart(toStart) != 1) return;
  liveStarts_.push_back(toStart);
  requestedTotal_ |= toStart;
}

void CSessionEngine::updatePulled() {
  puller_.setPulled(phase_ == SessionPhase::Ready ? running_ & wanted_ : 0);
}

void CSessionEngine::setChannelRateCap(uint8_t channel, int fps) {
  if (channel >= kMaxFrameChannels) return;
  rateCaps_[channel] = fps > 0 ? fps : 0;
  puller_.setRateCap(channel, rateCaps_[channel]);
}

void CSessionEngine::setAudioChannel(int channel) {
  if (channel < -1 || channel >= kMaxFrameChannels) return;
  audioChannel_ = channel;
  if (phase_ == SessionPhase::Ready) applyAudio();
}

void CSessionEngine::applyAudio() {
  if (!client_) return;
  if (audioChannel_ < 0) {
    closeAudio();
    return;
  }
  if (!audioOn_) {
    // The chain goes on from the replies: the audio login, REQ_AUDIOSTART, REQ_AUDIOCHANNEL.
    audioOn_ = true;
    client_->requestAudioOpen();
    if (audio_ != nullptr) audio_->open(windowId());
    return;
  }
  // Another channel: stopping first makes the DVR's answer ask for the new one.
  if (client_->audio().isConnected()) client_->requestAudioStop(0xFFFFFFFF);
}

void CSessionEngine::closeAudio() {
  if (!audioOn_) return;
  if (client_) {
    client_->requestAudioClose();
    client_->closeAudio();
  }
  if (audio_ != nullptr) audio_->close();
  audioOn_ = false;
}

bool CSessionEngine::ptzControl(uint8_t channel, uint8_t command, uint8_t value) {
  if (!client_ || phase_ != SessionPhase::Ready || channel >= kMaxFrameChannels) return false;
  if (((info_.ptzMask >> channel) & 1u) == 0) return false;
  return client_->requestPtzControl(channel, command, value) == 1;
}

bool CSessionEngine::ptzPreset(uint8_t channel, uint8_t preset) {
  if (preset < 1 || preset > 8) return false;
  return ptzControl(channel, kPresetCode, preset);
}

void CSessionEngine::onChannelFrame(const ChannelFrame& frame) {
  LiveFrame out;
  out.channel = frame.channel;
  out.codec = frame.frameType == 0 ? LiveCodec::Mpeg4 : LiveCodec::Jpeg;
  out.data = frame.data;
  out.length = frame.length;
  out.arrival = frame.arrival;
  out.sequence = frame.sequence;
  listener_.onFrame(out);
}
