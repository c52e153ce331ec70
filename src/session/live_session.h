#pragma once
// One login to one DVR without a window: connect, log in, prepare, start any set of channels on
// the one live-stream connection, pull their frames fairly, audio, PTZ, notices, disconnect and
// link loss. Qt Core only. The owner creates it on its event-loop thread and calls it there.
//
// Frames: every channel in the wanted set is started with REQ_LIVESTART masks (adding a channel
// adds bits; the live stream is never rebuilt for it) and pulled with REQ_LIVEFRAME, at most one
// request outstanding per channel, channels served round robin, a channel with a rate cap asked
// no faster than its cap. Frames reach ISessionListener::onFrame on the stream thread.
#include <cstdint>
#include <memory>
#include <string>

#include "session/session_listener.h"

class IAudioSink;

struct SessionTarget {
  std::string address;  // host name or dotted IPv4 address, as the user typed it
  uint16_t port = 0;
  std::string userId;
  std::string password;
  int linkTimeoutMs = 20000;     // a control connection silent this long counts as lost
  int connectTimeoutMs = 10000;  // from connect() to "Connected."
};

class CLiveSession {
 public:
  // listener must outlive the session. audio, when given, plays the audio channel.
  explicit CLiveSession(ISessionListener& listener, IAudioSink* audio = nullptr);
  ~CLiveSession();  // ends any connection at once (a local disconnect) and joins every thread
  CLiveSession(const CLiveSession&) = delete;
  CLiveSession& operator=(const CLiveSession&) = delete;

  // False (and nothing started) while a connection exists or for an empty address, user id or
  // password, or port 0.
  bool connect(const SessionTarget& target);
  // Orderly disconnect when the live stream runs (REQ_LIVECLOSE, then REQ_DISCONNECT), else a
  // local one; onEnded(UserDisconnect) follows either way.
  void disconnect();

  SessionPhase phase() const;
  const DvrInfo& dvrInfo() const;
  int16_t loginStatus() const;  // the status of the last refused login, 0 when none

  // The channels to stream (bit n: channel n). Channels the DVR masks are left out. Bits added
  // are started, bits removed are no longer pulled (their frames are dropped when they come).
  // Kept across phases: what is wanted before "Connected." is started right after it.
  void setWantedChannels(uint32_t mask);
  uint32_t wantedChannels() const;
  uint32_t runningChannels() const;
  // At most fps frames a second are requested for channel; 0 removes the cap.
  void setChannelRateCap(uint8_t channel, int fps);
  // Any thread, cheap: no new frame of channel is requested while held (the listener can't keep
  // up with it); a hold not released within a second ends by itself.
  void holdChannel(uint8_t channel, bool held);
  // With it on, every frame handed to onFrame holds its channel until holdChannel(channel,
  // false): a listener that releases a channel once it can take its next frame is never sent
  // frames faster than it uses them.
  void setHoldOnDelivery(bool on);

  // Audio of one channel (0..15) on, or off with -1. Works in any phase; starts once ready.
  void setAudioChannel(int channel);
  int audioChannel() const;

  // Pan/tilt/zoom of channel's camera, as the compact window sends them. False when not ready or
  // the channel has no camera.
  bool ptzControl(uint8_t channel, uint8_t command, uint8_t value);
  bool ptzPreset(uint8_t channel, uint8_t preset);  // preset 1..8

  // Per channel, since connect (any thread): frames requested and frames delivered.
  uint64_t framesRequested(uint8_t channel) const;
  uint64_t framesDelivered(uint8_t channel) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
