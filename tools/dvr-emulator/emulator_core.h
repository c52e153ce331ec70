#pragma once
// State shared by every connection thread of one emulated DVR: configuration, counters, armed
// faults, camera channels, logged-in sessions and the listening sockets of the sub-connections.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "channel_feed.h"
#include "emulator_config.h"
#include "emulator_stats.h"
#include "event_log.h"
#include "fault_plan.h"
#include "login_throttle.h"
#include "socket_io.h"
#include "wire_connection.h"

namespace dvremu {

// One logged-in control connection and what the viewer has started on it.
struct SessionState {
  SessionState(int sessionId, Account who, std::shared_ptr<WireConnection> connection)
      : id(sessionId), account(std::move(who)), control(std::move(connection)) {}
  const int id;
  const Account account;
  const std::shared_ptr<WireConnection> control;

  std::mutex mutex;  // guards the fields below: the control thread writes, live/audio threads read
  uint32_t startedMask = 0;
  bool audioStarted = false;
  int audioChannel = -1;  // selected channel counted from 0, -1: none
  int liveListener = 0;   // listener ids, 0: none
  int audioListener = 0;
  uint16_t livePort = 0;
  uint16_t audioPort = 0;

  // Frames served to this session per channel (from 0); its live-stream thread counts.
  std::array<std::atomic<uint64_t>, kMaxChannels> framesServed{};
};

// Who a listening socket accepts for.
struct ListenerPurpose {
  ConnectionKind kind = ConnectionKind::Pending;  // Pending: the control port
  std::shared_ptr<SessionState> session;
};

class EmulatorCore {
 public:
  using Clock = std::chrono::steady_clock;
  explicit EmulatorCore(EmulatorConfig config);

  const EmulatorConfig& config() const { return config_; }
  EventLog& log() { return log_; }
  EmulatorStats& stats() { return stats_; }
  FaultPlan& faults() { return faults_; }
  LoginThrottle& throttle() { return throttle_; }
  WakeEvent& wake() { return wake_; }
  SharedServices services() { return {log_, stats_, faults_, wake_.fd()}; }
  Clock::time_point epoch() const { return epoch_; }

  // Channels 0..15; null for a channel that is not enabled.
  ChannelFeed* feed(int channel);
  uint32_t enabledMask() const;

  // Settings the control interface may change while running.
  std::string model() const;
  void setModel(const std::string& model);
  AudioCodec audioCodec() const { return static_cast<AudioCodec>(audioCodec_.load()); }
  void setAudioCodec(AudioCodec codec) { audioCodec_.store(static_cast<int>(codec)); }
  // A channel's video codec: the configured one until `video-codec` switches it while running.
  VideoCodec videoCodec(int channel) const;
  void setVideoCodec(int channel, VideoCodec codec);
  LiveCloseMode liveCloseMode() const {
    return liveCloseDrops_.load() ? LiveCloseMode::Drop : LiveCloseMode::Keep;
  }
  void setLiveCloseMode(LiveCloseMode mode) { liveCloseDrops_.store(mode == LiveCloseMode::Drop); }

  // Sessions and notice connections.
  std::shared_ptr<SessionState> addSession(const Account& account,
                                           std::shared_ptr<WireConnection> control);
  void removeSession(int id);
  std::vector<std::shared_ptr<SessionState>> sessions();
  int sessionCount();
  void addNoticeConnection(const std::shared_ptr<WireConnection>& connection);
  std::vector<std::shared_ptr<WireConnection>> noticeConnections();

  // Every connection, for listing and dropping.
  void addConnection(const std::shared_ptr<WireConnection>& connection);
  std::vector<std::shared_ptr<WireConnection>> connections();

  // Listening sockets for sub-connections; the acceptor thread polls them.
  int openListener(const ListenerPurpose& purpose, uint16_t* port, std::string* error);
  int addListener(UniqueFd fd, const ListenerPurpose& purpose);
  void closeListener(int id);
  struct ListenerEntry {
    int id;
    UniqueFd fd;
    ListenerPurpose purpose;
  };
  // For the acceptor: the open listeners' (id, fd) and a readable fd that signals changes.
  std::vector<std::pair<int, int>> listenerFds();
  // Accepts every connection waiting on listener id (if it is still open), so a burst of
  // connects never waits for further wake-ups. False when accepting failed for another reason
  // than an empty queue (out of descriptors, for instance).
  bool acceptPending(int id, ListenerPurpose* purpose, std::vector<UniqueFd>* accepted);
  int listenerChangeFd() { return listenerChange_.fd(); }
  void drainListenerChanges();
  void closeAllListeners();

  // Next id for a connection.
  int nextConnectionId() { return nextConnectionId_.fetch_add(1) + 1; }

  // Checks an account; returns 1, or the refusal status (2051 unknown user, 2052 password).
  uint16_t checkAccount(const std::string& user, const std::string& password,
                        Account* account) const;

 private:
  const EmulatorConfig config_;
  EventLog log_;
  EmulatorStats stats_;
  FaultPlan faults_;
  LoginThrottle throttle_;
  WakeEvent wake_;
  WakeEvent listenerChange_;
  const Clock::time_point epoch_;
  std::vector<std::unique_ptr<ChannelFeed>> feeds_;  // built by the constructor, read-only after

  mutable std::mutex settingsMutex_;  // guards model_
  std::string model_;
  std::atomic<int> audioCodec_;
  std::array<std::atomic<int>, kMaxChannels> videoCodecs_;  // -1: as configured
  std::atomic<bool> liveCloseDrops_;

  std::mutex registryMutex_;  // guards sessions_, notices_, connections_, nextSessionId_
  std::map<int, std::shared_ptr<SessionState>> sessions_;
  std::vector<std::weak_ptr<WireConnection>> notices_;
  std::vector<std::weak_ptr<WireConnection>> connections_;
  int nextSessionId_ = 0;

  std::mutex listenersMutex_;  // guards listeners_ and nextListenerId_
  std::vector<ListenerEntry> listeners_;
  int nextListenerId_ = 0;

  std::atomic<int> nextConnectionId_{0};
};

// The connection threads' work, one function per kind of connection.
void runControlPort(EmulatorCore& core, const std::shared_ptr<WireConnection>& connection);
void runLiveStream(EmulatorCore& core, const std::shared_ptr<WireConnection>& connection,
                   const std::shared_ptr<SessionState>& session);
void runAudio(EmulatorCore& core, const std::shared_ptr<WireConnection>& connection,
              const std::shared_ptr<SessionState>& session);

// Waits for the viewer's RSP_AUTHLOGIN after REQ_AUTHLOGIN went out; false when the
// connection ends or nothing comes within the login time-out.
struct Credentials {
  std::string user;
  std::string password;
};
bool awaitLogin(EmulatorCore& core, WireConnection& connection, Credentials* credentials);
// Checks a login's account once the throttle lets this host try again (failed logins from a
// host slow its next ones down). Returns 1 or the refusal status; empty when the connection
// ended or the DVR stopped during the wait.
std::optional<uint16_t> checkLogin(EmulatorCore& core, WireConnection& connection,
                                   const Credentials& credentials, Account* account);
// Keeps a refused connection open until the viewer closes it (or a few seconds pass), so the
// refusal is read before the link goes.
void lingerAfterRefusal(WireConnection& connection);

}  // namespace dvremu
