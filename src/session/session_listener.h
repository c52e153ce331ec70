#pragma once
// What a live session tells the view that owns it (the monitor window, the bridge). One listener
// per session, implemented by the view; no globals, so two DVRs are two sessions.
#include <chrono>
#include <cstdint>
#include <string>

// The session's phases, in the order a connection goes through them.
enum class SessionPhase {
  Idle,           // no connection (before the first connect, or after the session ended)
  Connecting,     // control connection starting, login, preparation, live stream opening
  Ready,          // "%s Connected.": channels can be started
  Disconnecting,  // orderly disconnect under way
};

// Why a session ended (SessionPhase::Idle again).
enum class SessionEnd {
  UserDisconnect,     // disconnect() finished
  ConnectFailed,      // the control connection could not be made
  ConnectTimeout,     // no "Connected." within the connect timeout
  LoginRefused,       // a login was refused; loginStatus() says why
  PreparationFailed,  // a preparation step answered with an error; the text names the step
  LinkLost,           // the control connection was lost (or went silent)
  StreamLost,         // the live-stream connection was lost
};

// What the DVR told us during the preparation.
struct DvrInfo {
  std::string model;          // the model's name from the model table
  uint32_t channelCount = 0;  // 1..16
  uint32_t disabledMask = 0;  // channels the DVR masks (bit n: channel n, counted from 0)
  uint32_t ptzMask = 0;       // channels with a pan/tilt/zoom camera
  int videoStandard = 0;      // 1 or 2 as the DVR reports it
};

enum class LiveCodec : uint8_t { Mpeg4 = 0, Jpeg = 1 };

// One live frame as it came off the live-stream connection. data points at the frame header
// (the 0x01 marker, then the channel byte) and is valid only during the call; at least
// kFrameReadSlack zero bytes follow it.
struct LiveFrame {
  uint8_t channel = 0;  // 0..15, from the frame header
  LiveCodec codec = LiveCodec::Jpeg;
  const uint8_t* data = nullptr;
  uint32_t length = 0;
  std::chrono::steady_clock::time_point arrival;
  uint64_t sequence = 0;  // per channel, increasing by one per frame delivered
};

// A callback must not destroy the session it comes from; defer that to a later event-loop turn.
class ISessionListener {
 public:
  virtual ~ISessionListener() = default;

  // On the thread that owns the session (the one running the Qt event loop).
  // statusText is the status-line text of the moment ("%s Connecting...", "%s Connected.",
  // "%s Disconnected.", "%s Power off", ...), with %s replaced by the address as typed.
  virtual void onPhaseChanged(SessionPhase phase, const std::string& statusText) = 0;
  virtual void onDvrInfo(const DvrInfo& info) = 0;
  // The channels the DVR is sending now (bit n: channel n) and those it refused to start.
  virtual void onChannelsChanged(uint32_t runningMask, uint32_t refusedMask) = 0;
  // A DVR notice (power off, setup entered or left) as its status text.
  virtual void onNotice(const std::string& statusText) = 0;
  // A message the compact window would show in a box (a refused login's text, "Error : ...",
  // "Already using PTZ Camera Control. Please check it again.").
  virtual void onMessage(const std::string& text) = 0;
  virtual void onEnded(SessionEnd reason, const std::string& statusText) = 0;

  // On the live-stream connection's receive thread: keep it short (copy, queue, return).
  virtual void onFrame(const LiveFrame& frame) = 0;
};
