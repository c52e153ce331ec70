#pragma once
// RTSP for the bridge over GStreamer's RTSP server: rtsp://HOST:PORT/channel/N for the offered
// channels, one shared media per channel whatever the number of clients (video as RTP/JPEG or
// MP4V-ES, audio as PCMU). The server runs on its own GLib main context and loop, in a thread
// owned here; client requests are handled on the server's thread pool, so one DESCRIBE that
// waits for its channel's first frame holds up no other client.
//
// The clients connect to a relay of ours (rtsp_relay.h) that bounds what they send and hands each
// connection over to the server.
//
// Admission: at most maxClients connections are served; the others get 503 to every request.
// With users, every request needs digest authentication (no basic: the password would travel in
// the clear).
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "bridge/auth_users.h"
#include "bridge/bridge_options.h"
#include "bridge/rtsp_channel.h"

class CRtspRelay;

struct RtspSettings {
  ListenAddress address;
  int maxClients = 64;
  const CAuthUsers* users = nullptr;  // null: no authentication
  // How long a DESCRIBE waits for its channel's first frame before it gets an error.
  std::chrono::milliseconds startTimeout{6000};
};

class CRtspServer {
 public:
  static constexpr size_t kChannels = 16;
  using ChannelArray = std::array<int, kChannels>;

  explicit CRtspServer(RtspSettings settings);
  ~CRtspServer();  // closes every client, stops and joins the server's thread
  CRtspServer(const CRtspServer&) = delete;
  CRtspServer& operator=(const CRtspServer&) = delete;

  // Listens and starts the thread. False with a one-line error (a missing plugin, a port in use).
  bool start(std::string* error);
  uint16_t port() const { return port_; }

  // Owner's thread: the channels to serve (bit n: /channel/n+1).
  void setOffered(uint32_t mask);

  // Live-stream thread.
  void pushVideo(uint8_t channel, LiveCodec codec, const uint8_t* data, size_t length,
                 std::chrono::steady_clock::time_point arrival);
  // Audio thread.
  void pushAudio(uint8_t channel, const int16_t* samples, size_t count,
                 std::chrono::steady_clock::time_point arrival);

  // Any thread: per channel, medias alive or waiting (the channel is pulled while above 0)...
  ChannelArray watchers() const;
  // ...the RTSP clients that set up its streams...
  ChannelArray clients() const;
  // ...and the channel whose audio the streams carry: of the watched channels, the one watched
  // longest (it keeps the audio until its media goes); -1 when none is watched.
  int audioChannel() const;
  RtspFitCounts fitCounts(uint8_t channel) const;

  // Shared with GStreamer's callbacks; defined in the source.
  struct Shared;

 private:
  RtspSettings settings_;
  std::shared_ptr<Shared> shared_;
  std::thread thread_;
  std::unique_ptr<CRtspRelay> relay_;  // accepts the clients and hands them to the server
  uint16_t port_ = 0;
  uint32_t offered_ = 0;
};
