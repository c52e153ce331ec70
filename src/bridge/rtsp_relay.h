#pragma once
// The bridge's RTSP listener. It accepts the clients itself and relays each connection to
// GStreamer's RTSP server over a loopback TCP connection of its own, checking what the client
// sends on the way (rtsp_request_guard.h): a request over a bound is answered here and the
// connection closed; nothing else changes for the other clients.
//
// The server end of each loopback connection is bound to the address the client connected to,
// so that the server describes itself with that address; the client's own address goes with the
// hand-over, so that RTP over UDP still goes to the client.
//
// One thread relays every connection, with non-blocking sockets and poll: a slow client holds up
// nobody. Per connection, each direction buffers a bounded amount; when the client doesn't read,
// the relay stops reading from the server for that connection, and the server's own backlog
// handling takes over.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "bridge/bridge_options.h"
#include "bridge/rtsp_request_guard.h"

struct RtspRelaySettings {
  ListenAddress address;
  size_t maxConnections = 96;  // beyond: accepted and closed at once
  RtspRequestLimits limits;
  size_t toClientBytes = 256 * 1024;  // what the server sent and the client hasn't taken
  size_t toServerBytes = 32 * 1024;   // what the client sent and the server hasn't taken
  // How long a closing connection still gets to take its last reply.
  std::chrono::milliseconds lingerTime{2000};
  // How long a client may take over its first request from connecting, and over any message
  // once begun. A request that doesn't come whole by then gets 408 and the connection closes,
  // so that clients trickling bytes can't hold the connections. Between messages a client may
  // stay quiet as long as its session lasts.
  std::chrono::milliseconds requestTimeout{15000};
};

class CRtspRelay {
 public:
  // Called on the relay's thread with the server end of a new connection (the callee owns the
  // descriptor, whatever it returns) and the client's address. False: the connection is closed.
  using HandOver = std::function<bool(int fd, const std::string& clientIp, uint16_t clientPort)>;

  CRtspRelay(RtspRelaySettings settings, HandOver handOver);
  ~CRtspRelay();  // stops the thread and closes every connection
  CRtspRelay(const CRtspRelay&) = delete;
  CRtspRelay& operator=(const CRtspRelay&) = delete;

  // Binds and listens. False with the system's reason in error.
  bool listen(std::string* error);
  uint16_t port() const { return port_; }
  void start();

  // Any thread: the connections relayed now and the bytes buffered for them in both directions.
  size_t connections() const { return connections_.load(); }
  size_t bufferedBytes() const { return buffered_.load(); }

  struct Engine;  // the relay thread's state; defined in the source

 private:
  RtspRelaySettings settings_;
  std::unique_ptr<Engine> engine_;
  std::thread thread_;
  uint16_t port_ = 0;
  std::atomic<size_t> connections_{0};
  std::atomic<size_t> buffered_{0};
};
