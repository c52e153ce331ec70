#pragma once
// The bridge's core: one DVR session, pulled on demand, its pictures shared by the HTTP and RTSP
// servers. Created and run on the thread of the QCoreApplication; the session's frames arrive on
// its stream thread and go straight to the hub (JPEG) or the transcoder (MPEG-4), and to the
// channel's RTSP media when one is built.
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "bridge/auth_users.h"
#include "bridge/bridge_options.h"
#include "bridge/bridge_state.h"
#include "bridge/demand_tracker.h"
#include "bridge/frame_hub.h"
#include "bridge/http_server.h"
#include "bridge/mpeg4_transcoder.h"
#include "bridge/rtsp_audio_sink.h"
#include "bridge/rtsp_server.h"
#include "session/live_session.h"
#include "session/reconnect_policy.h"

class CBridgeService final : public ISessionListener {
 public:
  using LogLine = std::function<void(const std::string&)>;

  // users: null admits everyone. log gets the -v lines, warn what is always reported (never the
  // password in either).
  CBridgeService(const BridgeOptions& options, std::string password,
                 std::optional<CAuthUsers> users, LogLine log, LogLine warn);
  ~CBridgeService() override;

  // Starts HTTP, RTSP and the DVR session. False with a one-line error when a server can't
  // listen.
  bool start(std::string* error);
  uint16_t httpPort() const { return http_.port(); }
  uint16_t rtspPort() const { return rtsp_ ? rtsp_->port() : 0; }
  // Set when the session ended for good (a refused account): the exit status to leave with.
  std::optional<int> finished() const { return finished_; }
  void setFinishedHandler(std::function<void()> handler) { onFinished_ = std::move(handler); }
  // Logs out of the DVR (so its login slot is free at once), then finishes with status 0; after
  // kStopTimeoutMs it finishes anyway.
  void stop();
  static constexpr int kStopTimeoutMs = 3000;

  // ISessionListener
  void onPhaseChanged(SessionPhase phase, const std::string& statusText) override;
  void onDvrInfo(const DvrInfo& info) override;
  void onChannelsChanged(uint32_t runningMask, uint32_t refusedMask) override;
  void onNotice(const std::string& statusText) override;
  void onMessage(const std::string& text) override;
  void onEnded(SessionEnd reason, const std::string& statusText) override;
  void onFrame(const LiveFrame& frame) override;

 private:
  void tick();
  void connect();
  void finish(int status);
  uint32_t offeredMask() const;

  BridgeOptions options_;
  SessionTarget target_;
  std::optional<CAuthUsers> users_;
  LogLine log_;
  LogLine warn_;
  uint32_t unavailable_ = 0;  // channels of --channels that the DVR masks or doesn't have
  bool unavailableReported_ = false;
  CFrameHub hub_;
  CBridgeState state_;
  CHttpServer http_;
  CMpeg4Transcoder transcoder_;
  std::unique_ptr<CRtspServer> rtsp_;  // null with --rtsp off
  CRtspAudioSink audioSink_;
  CDemandTracker demand_;
  CReconnectPolicy reconnect_;
  std::unique_ptr<CLiveSession> session_;
  QTimer tick_;
  QTimer retry_;
  std::optional<DvrInfo> dvr_;
  uint32_t running_ = 0;
  std::optional<int> finished_;
  bool stopping_ = false;
  std::function<void()> onFinished_;
  std::chrono::steady_clock::time_point rateTime_;
  std::array<ChannelCounters, CFrameHub::kChannels> rateBase_{};
  std::array<std::atomic<uint8_t>, CFrameHub::kChannels> codecSeen_{};  // 0 none, 1 jpeg, 2 mpeg4
};
