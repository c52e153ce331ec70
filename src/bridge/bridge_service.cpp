#include "bridge/bridge_service.h"

namespace {

constexpr int kTickMs = 250;
constexpr int kExitNotConnected = 3;
constexpr uint32_t kFrameHeaderSize = 16;

const char* phaseName(SessionPhase phase) {
  switch (phase) {
    case SessionPhase::Idle:
      return "idle";
    case SessionPhase::Connecting:
      return "connecting";
    case SessionPhase::Ready:
      return "ready";
    case SessionPhase::Disconnecting:
      return "disconnecting";
  }
  return "idle";
}

RtspSettings rtspSettingsFor(const BridgeOptions& options, const CAuthUsers* users) {
  RtspSettings settings;
  settings.address = options.rtsp;
  settings.maxClients = options.maxClients;
  settings.users = users;
  return settings;
}

HttpLimits limitsFor(const BridgeOptions& options) {
  HttpLimits limits;
  limits.maxClients = options.maxClients;
  return limits;
}

}  // namespace

CBridgeService::CBridgeService(const BridgeOptions& options, std::string password,
                               std::optional<CAuthUsers> users, LogLine log, LogLine warn)
    : options_(options),
      users_(std::move(users)),
      log_(std::move(log)),
      warn_(std::move(warn)),
      http_(hub_, state_, users_ ? &*users_ : nullptr, limitsFor(options)),
      transcoder_(hub_),
      rtsp_(options.rtspEnabled ? std::make_unique<CRtspServer>(
                                      rtspSettingsFor(options, users_ ? &*users_ : nullptr))
                                : nullptr),
      audioSink_([this](uint8_t channel, const int16_t* samples, size_t count,
                        std::chrono::steady_clock::time_point arrival) {
        if (rtsp_) rtsp_->pushAudio(channel, samples, count, arrival);
      }),
      demand_(std::chrono::seconds(options.graceSeconds)) {
  target_.address = options.dvrAddress;
  target_.port = options.dvrPort;
  target_.userId = options.userId;
  target_.password = std::move(password);
  session_ = std::make_unique<CLiveSession>(*this, &audioSink_);
  state_.update([&](BridgeView& view) {
    view.address = options.dvrAddress;
    view.phase = "idle";
    view.dvrKnown = options.channelMask != 0;
    for (size_t n = 0; n < view.channels.size(); ++n)
      view.channels[n].offered = (options.channelMask >> n) & 1u;
  });
  tick_.callOnTimeout([this] { tick(); });
  retry_.setSingleShot(true);
  retry_.callOnTimeout([this] { connect(); });
}

CBridgeService::~CBridgeService() {
  tick_.stop();
  retry_.stop();
  http_.stop();
  session_.reset();  // joins the stream thread before the hub, transcoder and RTSP server go
  rtsp_.reset();
}

bool CBridgeService::start(std::string* error) {
  if (!http_.start(options_.http, error)) return false;
  if (rtsp_) {
    if (!rtsp_->start(error)) return false;
    rtsp_->setOffered(offeredMask() & ~unavailable_);
  }
  rateTime_ = std::chrono::steady_clock::now();
  tick_.start(kTickMs);
  connect();
  return true;
}

void CBridgeService::finish(int status) {
  if (finished_) return;
  finished_ = status;
  if (onFinished_) onFinished_();
}

void CBridgeService::stop() {
  if (stopping_) return;
  stopping_ = true;
  retry_.stop();
  if (session_->phase() == SessionPhase::Idle) {
    finish(0);
    return;
  }
  session_->disconnect();  // onEnded follows
  QTimer::singleShot(kStopTimeoutMs, &tick_, [this] { finish(0); });
}

void CBridgeService::connect() {
  if (!session_->connect(target_) && log_) log_("session: cannot start a connection");
}

uint32_t CBridgeService::offeredMask() const {
  uint32_t mask = options_.channelMask;
  if (mask == 0 && dvr_) {
    const uint32_t all = dvr_->channelCount >= 32 ? ~0u : (1u << dvr_->channelCount) - 1u;
    mask = all & ~dvr_->disabledMask;
  }
  return mask;
}

void CBridgeService::tick() {
  const auto now = std::chrono::steady_clock::now();
  // A channel is watched by its HTTP clients and by its RTSP media (from the DESCRIBE that
  // builds it until the media is gone).
  std::array<int, CFrameHub::kChannels> watchers = hub_.clients();
  std::array<int, CFrameHub::kChannels> rtspClients{};
  int audio = -1;
  if (rtsp_) {
    rtsp_->setOffered(offeredMask() & ~unavailable_);
    const auto media = rtsp_->watchers();
    for (size_t n = 0; n < watchers.size(); ++n) watchers[n] += media[n];
    rtspClients = rtsp_->clients();
    audio = rtsp_->audioChannel();
  }
  const uint32_t wanted = demand_.update(now, watchers) & offeredMask() & ~unavailable_;
  if (audio >= 0 && ((wanted >> audio) & 1u) == 0) audio = -1;
  if (session_->audioChannel() != audio) {
    if (log_) log_(audio < 0 ? "audio: off" : "audio: channel " + std::to_string(audio + 1));
    audioSink_.setChannel(audio);
    session_->setAudioChannel(audio);
  }
  if (session_->wantedChannels() != wanted) {
    if (log_)
      log_("channels: pulling mask 0x" + [&] {
        char text[9];
        std::snprintf(text, sizeof text, "%x", wanted);
        return std::string(text);
      }());
    session_->setWantedChannels(wanted);
  }
  const double seconds = std::chrono::duration<double>(now - rateTime_).count();
  const bool newRates = seconds >= 1.0;
  state_.update([&](BridgeView& view) {
    for (uint8_t n = 0; n < CFrameHub::kChannels; ++n) {
      ChannelView& channel = view.channels[n];
      channel.pulled = (wanted >> n) & 1u;
      channel.counters = hub_.counters(n);
      channel.rtspClients = rtspClients[n];
      if (rtsp_) channel.fits = rtsp_->fitCounts(n);
      if (newRates) {
        channel.fpsIn = (channel.counters.picturesIn - rateBase_[n].picturesIn) / seconds;
        channel.fpsOut = (channel.counters.picturesOut - rateBase_[n].picturesOut) / seconds;
        rateBase_[n] = channel.counters;
      }
    }
  });
  if (newRates) rateTime_ = now;
}

void CBridgeService::onPhaseChanged(SessionPhase phase, const std::string& statusText) {
  if (phase == SessionPhase::Ready) reconnect_.onConnected();
  state_.update([&](BridgeView& view) {
    view.phase = phaseName(phase);
    view.status = statusText;
    if (phase == SessionPhase::Ready) ++view.sessions;
  });
  if (log_) log_("status: " + statusText);
}

void CBridgeService::onDvrInfo(const DvrInfo& info) {
  dvr_ = info;
  const uint32_t offered = offeredMask();
  const uint32_t present = info.channelCount >= 32 ? ~0u : (1u << info.channelCount) - 1u;
  unavailable_ = options_.channelMask & ~(present & ~info.disabledMask);
  if (rtsp_) rtsp_->setOffered(offered & ~unavailable_);  // mounted before a client can ask
  state_.update([&](BridgeView& view) {
    view.model = info.model;
    view.dvrKnown = true;
    for (size_t n = 0; n < view.channels.size(); ++n) {
      view.channels[n].offered = (offered >> n) & 1u;
      view.channels[n].refused = (unavailable_ >> n) & 1u;
    }
  });
  // Once per run, not on every reconnect.
  if (unavailable_ != 0 && !unavailableReported_ && warn_) {
    std::string list;
    for (int n = 0; n < 16; ++n) {
      if (((unavailable_ >> n) & 1u) == 0) continue;
      if (!list.empty()) list += ',';
      list += std::to_string(n + 1);
    }
    warn_("channels " + list + " of --channels are masked or absent on the DVR: Not available");
    unavailableReported_ = true;
  }
}

void CBridgeService::onChannelsChanged(uint32_t runningMask, uint32_t refusedMask) {
  const uint32_t started = runningMask & ~running_;
  for (uint8_t n = 0; n < CFrameHub::kChannels; ++n)
    if ((started >> n) & 1u) transcoder_.restart(n);
  running_ = runningMask;
  state_.update([&](BridgeView& view) {
    for (size_t n = 0; n < view.channels.size(); ++n) {
      view.channels[n].running = (runningMask >> n) & 1u;
      view.channels[n].refused = ((refusedMask | unavailable_) >> n) & 1u;
    }
  });
}

void CBridgeService::onNotice(const std::string& statusText) {
  state_.addNotice(statusText);
  if (log_) log_("notice: " + statusText);
}

void CBridgeService::onMessage(const std::string& text) {
  state_.addNotice(text);
  if (log_) log_("message: " + text);
}

void CBridgeService::onEnded(SessionEnd reason, const std::string& statusText) {
  running_ = 0;
  state_.update([&](BridgeView& view) {
    view.phase = "idle";
    view.status = statusText;
    for (ChannelView& channel : view.channels) channel.running = false;
  });
  if (stopping_) {
    finish(0);
    return;
  }
  const auto wait = reconnect_.onSessionEnded(reason, session_->loginStatus());
  if (wait) {
    if (log_)
      log_("status: " + statusText + " (again in " + std::to_string(wait->count()) + " ms)");
    retry_.start(static_cast<int>(wait->count()));
    return;
  }
  if (log_) log_("status: " + statusText + " (not retried)");
  finish(kExitNotConnected);
}

void CBridgeService::onFrame(const LiveFrame& frame) {
  if (frame.channel >= CFrameHub::kChannels || frame.data == nullptr ||
      frame.length <= kFrameHeaderSize)
    return;
  const uint8_t* coded = frame.data + kFrameHeaderSize;
  const size_t length = frame.length - kFrameHeaderSize;
  // Told to the documents once per change, not per frame.
  const uint8_t codec = frame.codec == LiveCodec::Mpeg4 ? 2 : 1;
  if (codecSeen_[frame.channel].exchange(codec) != codec) {
    state_.update([&](BridgeView& view) {
      view.channels[frame.channel].codec = codec == 2 ? "mpeg4" : "jpeg";
    });
  }
  if (frame.codec == LiveCodec::Mpeg4) {
    if (rtsp_) rtsp_->pushVideo(frame.channel, frame.codec, coded, length, frame.arrival);
    transcoder_.queue(frame.channel, coded, length, frame.arrival);
    return;
  }
  // The JPEG image as the DVR sent it, from its start-of-image marker on.
  for (size_t i = 0; i + 1 < length; ++i) {
    if (coded[i] == 0xFF && coded[i + 1] == 0xD8) {
      if (rtsp_) rtsp_->pushVideo(frame.channel, frame.codec, coded + i, length - i, frame.arrival);
      hub_.publish(frame.channel, std::vector<uint8_t>(coded + i, coded + length), frame.arrival);
      return;
    }
  }
}
