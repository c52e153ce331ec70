#pragma once
// The bridge's HTTP server on libmicrohttpd, one thread per connection (an MJPEG client's thread
// waits for its channel's next picture; a slow client blocks only its own thread). Requests are
// bounded: header memory, header count, number of connections, no request bodies. Anything else
// than GET or HEAD gets 405, an unknown path 404, a request the library can't parse its 400.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "bridge/auth_users.h"
#include "bridge/bridge_options.h"
#include "bridge/bridge_state.h"
#include "bridge/frame_hub.h"

struct HttpLimits {
  int maxClients = 64;
  size_t headerMemory = 8192;  // bytes a request's line and headers may take
  int maxHeaders = 40;
  int connectionTimeoutSeconds = 15;             // a request that stalls this long is dropped
  std::chrono::milliseconds snapshotWait{8000};  // how long /N.jpg waits for a first picture
};

class CHttpServer {
 public:
  // users: null to admit everyone (loopback, or --no-auth). offered: the channels served.
  CHttpServer(CFrameHub& hub, CBridgeState& state, const CAuthUsers* users, HttpLimits limits);
  ~CHttpServer();
  CHttpServer(const CHttpServer&) = delete;
  CHttpServer& operator=(const CHttpServer&) = delete;

  bool start(const ListenAddress& address, std::string* error);
  void stop();
  uint16_t port() const;  // the bound port (the one chosen for port 0)

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};
