#include "bridge/http_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <cstring>

#include "bridge/request_target.h"

namespace {

constexpr const char* kBoundary = "pelloxframe";
constexpr std::chrono::milliseconds kStreamWait{1000};
constexpr const char* kRealm = "PelloxView bridge";

}  // namespace

struct CHttpServer::Impl {
  CFrameHub& hub;
  CBridgeState& state;
  const CAuthUsers* users;
  HttpLimits limits;
  MHD_Daemon* daemon = nullptr;

  // One MJPEG client: the picture being sent and how far.
  struct Stream {
    Impl* owner;
    uint8_t channel;
    PicturePtr picture;
    std::string partHeader;
    uint64_t lastSent = 0;
    size_t offset = 0;  // into partHeader + jpeg + "\r\n"
  };

  static ssize_t readStream(void* cls, uint64_t, char* buffer, size_t max) {
    auto& stream = *static_cast<Stream*>(cls);
    Impl& impl = *stream.owner;
    while (!stream.picture) {
      if (impl.hub.stopped()) return MHD_CONTENT_READER_END_OF_STREAM;
      stream.picture = impl.hub.waitNewer(stream.channel, stream.lastSent, kStreamWait);
      if (stream.picture) {
        impl.hub.countSent(stream.channel, stream.lastSent, stream.picture->sequence);
        stream.lastSent = stream.picture->sequence;
        stream.partHeader = std::string("--") + kBoundary +
                            "\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                            std::to_string(stream.picture->jpeg.size()) + "\r\n\r\n";
        stream.offset = 0;
      }
    }
    const std::vector<uint8_t>& jpeg = stream.picture->jpeg;
    const size_t headerSize = stream.partHeader.size();
    const size_t total = headerSize + jpeg.size() + 2;
    size_t written = 0;
    while (written < max && stream.offset < total) {
      const size_t at = stream.offset;
      size_t n = 0;
      if (at < headerSize) {
        n = std::min(max - written, headerSize - at);
        std::memcpy(buffer + written, stream.partHeader.data() + at, n);
      } else if (at < headerSize + jpeg.size()) {
        n = std::min(max - written, headerSize + jpeg.size() - at);
        std::memcpy(buffer + written, jpeg.data() + (at - headerSize), n);
      } else {
        n = std::min(max - written, total - at);
        std::memcpy(buffer + written, "\r\n" + (at - headerSize - jpeg.size()), n);
      }
      written += n;
      stream.offset += n;
    }
    if (stream.offset == total) stream.picture.reset();
    return static_cast<ssize_t>(written);
  }

  static void freeStream(void* cls) {
    auto* stream = static_cast<Stream*>(cls);
    stream->owner->hub.removeClient(stream->channel, stream->lastSent);
    delete stream;  // owned by the response since MHD_create_response_from_callback
  }

  static MHD_Result queueText(MHD_Connection* connection, unsigned status, const std::string& body,
                              const char* type) {
    MHD_Response* response = MHD_create_response_from_buffer(
        body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
  }

  static MHD_Result countHeader(void* cls, MHD_ValueKind, const char*, const char*) {
    ++*static_cast<int*>(cls);
    return MHD_YES;
  }

  bool authorised(MHD_Connection* connection) const {
    if (users == nullptr) return true;
    char* password = nullptr;
    char* user = MHD_basic_auth_get_username_password(connection, &password);
    const bool admitted = user != nullptr && password != nullptr && users->admits(user, password);
    if (password != nullptr) {
      std::memset(password, 0, std::strlen(password));
      MHD_free(password);
    }
    if (user != nullptr) MHD_free(user);
    return admitted;
  }

  MHD_Result handle(MHD_Connection* connection, const char* url, const char* method,
                    const char* version, size_t* uploadSize) {
    // Answered on the first call, when the headers are in: a body is never read (a request
    // announcing one is refused below, and the library closes the connection after the answer).
    if (*uploadSize != 0) {
      *uploadSize = 0;
      return MHD_YES;
    }
    int headers = 0;
    MHD_get_connection_values(connection, MHD_HEADER_KIND, countHeader, &headers);
    if (headers > limits.maxHeaders)
      return queueText(connection, MHD_HTTP_REQUEST_HEADER_FIELDS_TOO_LARGE,
                       "Too many header fields\n", "text/plain");
    // HTTP/1.1 requires a Host header; the library lets its absence pass.
    if (std::strcmp(version, MHD_HTTP_VERSION_1_1) == 0 &&
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST) == nullptr)
      return queueText(connection, MHD_HTTP_BAD_REQUEST, "Bad request\n", "text/plain");
    const bool head = std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
    if (!head && std::strcmp(method, MHD_HTTP_METHOD_GET) != 0)
      return queueText(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Method not allowed\n",
                       "text/plain");
    const char* length =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    const char* chunked =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING);
    if ((length != nullptr && std::strcmp(length, "0") != 0) || chunked != nullptr)
      return queueText(connection, MHD_HTTP_CONTENT_TOO_LARGE, "No request body expected\n",
                       "text/plain");
    if (!authorised(connection)) {
      const std::string body = "Authorisation required\n";
      MHD_Response* response = MHD_create_response_from_buffer(
          body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
      if (response == nullptr) return MHD_NO;
      const MHD_Result queued = MHD_queue_basic_auth_fail_response(connection, kRealm, response);
      MHD_destroy_response(response);
      return queued;
    }
    const RequestTarget target = parseRequestTarget(url);
    BridgeView view = state.snapshot();
    for (uint8_t n = 0; n < CFrameHub::kChannels; ++n) view.channels[n].counters = hub.counters(n);
    const bool offered = target.kind == RequestKind::Stream || target.kind == RequestKind::Snapshot
                             ? view.channels[target.channel].offered
                             : true;
    if (!offered && !view.dvrKnown)
      return queueText(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "Not connected to the DVR yet\n",
                       "text/plain");
    if (target.kind == RequestKind::Unknown || !offered)
      return queueText(connection, MHD_HTTP_NOT_FOUND, "Not found\n", "text/plain");
    switch (target.kind) {
      case RequestKind::Page:
        return queueText(connection, MHD_HTTP_OK, renderPage(view), "text/html; charset=utf-8");
      case RequestKind::Status:
        return queueText(connection, MHD_HTTP_OK, renderStatusJson(view), "application/json");
      case RequestKind::Metrics:
        return queueText(connection, MHD_HTTP_OK, renderMetrics(view), "text/plain; version=0.0.4");
      case RequestKind::Snapshot:
        if (view.channels[target.channel].refused)
          return queueText(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "Not available\n",
                           "text/plain");
        return snapshot(connection, target.channel);
      case RequestKind::Stream:
        return stream(connection, target.channel, head);
      case RequestKind::Unknown:
        break;
    }
    return MHD_NO;
  }

  MHD_Result snapshot(MHD_Connection* connection, uint8_t channel) {
    constexpr auto kFresh = std::chrono::seconds(2);
    hub.noteSnapshot(channel);
    PicturePtr picture = hub.newest(channel);
    if (!picture || std::chrono::steady_clock::now() - picture->arrival > kFresh) {
      // Watch the channel for as long as it takes to get a current picture.
      hub.addClient(channel);
      PicturePtr fresh =
          hub.waitNewer(channel, picture ? picture->sequence : 0, limits.snapshotWait);
      hub.removeClient(channel);
      if (fresh) picture = fresh;
    }
    if (!picture)
      return queueText(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "No picture yet\n", "text/plain");
    hub.countSent(channel, 0, picture->sequence);
    MHD_Response* response = MHD_create_response_from_buffer(
        picture->jpeg.size(), const_cast<uint8_t*>(picture->jpeg.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "image/jpeg");
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    const MHD_Result queued = MHD_queue_response(connection, MHD_HTTP_OK, response);
    MHD_destroy_response(response);
    return queued;
  }

  MHD_Result stream(MHD_Connection* connection, uint8_t channel, bool head) {
    MHD_Response* response = nullptr;
    if (head) {
      response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
    } else {
      auto owned = std::make_unique<Stream>(Stream{this, channel, nullptr, {}, 0, 0});
      hub.addClient(channel);
      response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 32 * 1024, readStream,
                                                   owned.get(), freeStream);
      if (response == nullptr) {
        hub.removeClient(channel);
        return MHD_NO;
      }
      owned.release();  // freeStream deletes it
    }
    if (response == nullptr) return MHD_NO;
    const std::string type = std::string("multipart/x-mixed-replace; boundary=") + kBoundary;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type.c_str());
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    const MHD_Result queued = MHD_queue_response(connection, MHD_HTTP_OK, response);
    MHD_destroy_response(response);
    return queued;
  }

  static MHD_Result access(void* cls, MHD_Connection* connection, const char* url,
                           const char* method, const char* version, const char*, size_t* uploadSize,
                           void**) {
    return static_cast<Impl*>(cls)->handle(connection, url, method, version, uploadSize);
  }
};

CHttpServer::CHttpServer(CFrameHub& hub, CBridgeState& state, const CAuthUsers* users,
                         HttpLimits limits)
    : impl_(std::make_unique<Impl>(Impl{hub, state, users, limits})) {}

CHttpServer::~CHttpServer() {
  stop();
}

bool CHttpServer::start(const ListenAddress& address, std::string* error) {
  sockaddr_in socketAddress{};
  socketAddress.sin_family = AF_INET;
  socketAddress.sin_port = htons(address.port);
  if (::inet_pton(AF_INET, address.host.c_str(), &socketAddress.sin_addr) != 1) {
    *error = "not an IPv4 address: " + address.host;
    return false;
  }
  const HttpLimits& limits = impl_->limits;
  impl_->daemon = MHD_start_daemon(
      MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_THREAD_PER_CONNECTION | MHD_USE_POLL, 0, nullptr,
      nullptr, &Impl::access, impl_.get(), MHD_OPTION_SOCK_ADDR, &socketAddress,
      MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned>(limits.maxClients),
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, limits.headerMemory, MHD_OPTION_CONNECTION_TIMEOUT,
      static_cast<unsigned>(limits.connectionTimeoutSeconds), MHD_OPTION_LISTENING_ADDRESS_REUSE,
      1u, MHD_OPTION_END);
  if (impl_->daemon == nullptr) {
    *error = "cannot listen on " + address.host + ":" + std::to_string(address.port);
    return false;
  }
  return true;
}

void CHttpServer::stop() {
  if (impl_->daemon == nullptr) return;
  impl_->hub.stop();  // ends every stream's wait
  MHD_stop_daemon(impl_->daemon);
  impl_->daemon = nullptr;
}

uint16_t CHttpServer::port() const {
  if (impl_->daemon == nullptr) return 0;
  const MHD_DaemonInfo* info = MHD_get_daemon_info(impl_->daemon, MHD_DAEMON_INFO_BIND_PORT);
  return info == nullptr ? 0 : info->port;
}
