#include "bridge/rtsp_relay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gio/gio.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <list>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kChunk = 16 * 1024;
// A loopback connection the server hasn't taken by then is given up.
constexpr auto kHandOverWait = std::chrono::seconds(5);

// A descriptor closed with its owner.
class CFd {
 public:
  CFd() = default;
  explicit CFd(int fd) : fd_(fd) {}
  ~CFd() { reset(); }
  CFd(CFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  CFd& operator=(CFd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  CFd(const CFd&) = delete;
  CFd& operator=(const CFd&) = delete;
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// Bytes on their way in one direction, at most `limit` of them.
class CByteQueue {
 public:
  size_t size() const { return bytes_.size() - begin_; }
  bool empty() const { return size() == 0; }
  size_t room(size_t limit) const { return limit > size() ? limit - size() : 0; }
  const uint8_t* data() const { return bytes_.data() + begin_; }
  void append(const uint8_t* data, size_t length) {
    bytes_.insert(bytes_.end(), data, data + length);
  }
  void consume(size_t length) {
    begin_ += length;
    if (begin_ == bytes_.size()) {
      bytes_.clear();
      begin_ = 0;
    } else if (begin_ > bytes_.size() / 2) {
      bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(begin_));
      begin_ = 0;
    }
  }

 private:
  std::vector<uint8_t> bytes_;
  size_t begin_ = 0;
};

void setNoDelay(int fd) {
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

std::string ipOf(const sockaddr_in& address) {
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
  return text;
}

bool localAddressOf(int fd, sockaddr_in* address) {
  socklen_t length = sizeof *address;
  return ::getsockname(fd, reinterpret_cast<sockaddr*>(address), &length) == 0 &&
         address->sin_family == AF_INET;
}

bool wouldBlock() {
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

}  // namespace

struct CRtspRelay::Engine {
  // One client connection and its loopback connection to the server.
  struct Link {
    CFd client;
    CFd upstream;  // our end of the loopback connection
    std::string clientIp;
    uint16_t clientPort = 0;
    in_addr localIp{};  // where the client connected to
    // Our end's address, to know the server's end when it is accepted.
    in_addr upstreamIp{};
    uint16_t upstreamPort = 0;
    bool connected = false;   // the loopback connection is established
    bool handedOver = false;  // the server has its end
    Clock::time_point handOverBy{};
    RtspScanState scan;
    CByteQueue toServer, toClient;
    bool clientDone = false;      // the client sent its last byte
    bool upstreamShut = false;    // ...and the server was told so
    bool closing = false;         // the server's end is gone; the client takes its last bytes
    bool clientShut = false;      // closing: nothing more goes to the client
    Clock::time_point closeBy{};  // closing: the client is let go then at the latest
    bool dead = false;
    // The client's request must have come whole by then (max: nothing is awaited).
    Clock::time_point requestBy = Clock::time_point::max();
  };
  // A loopback listener per local address the clients connect to.
  struct Inner {
    in_addr ip{};
    CFd fd;
  };

  RtspRelaySettings settings;
  HandOver handOver;
  GSocket* listener = nullptr;  // owns the listening descriptor
  CFd wake;
  std::atomic<bool> stopping{false};
  std::list<Link> links;
  std::list<Inner> inners;

  ~Engine() {
    if (listener != nullptr) g_object_unref(listener);
  }

  void run(CRtspRelay& owner);
  void acceptClients();
  void acceptUpstreams(Inner& inner);
  Inner* innerFor(in_addr ip);
  void readClient(Link& link);
  void readUpstream(Link& link);
  void writeClient(Link& link);
  void writeUpstream(Link& link);
  void startClosing(Link& link);
  void checkConnected(Link& link);
  void advance(Link& link, Clock::time_point now);
  void awaitRequest(Link& link, Clock::time_point now);
};

CRtspRelay::CRtspRelay(RtspRelaySettings settings, HandOver handOver)
    : settings_(std::move(settings)), engine_(std::make_unique<Engine>()) {
  engine_->settings = settings_;
  engine_->handOver = std::move(handOver);
}

CRtspRelay::~CRtspRelay() {
  if (thread_.joinable()) {
    engine_->stopping = true;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t wrote = ::write(engine_->wake.get(), &one, sizeof one);
    thread_.join();
  }
}

bool CRtspRelay::listen(std::string* error) {
  // GLib's socket calls, for the same texts as before on a taken port or a wrong address.
  GError* failure = nullptr;
  GSocket* socket =
      g_socket_new(G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_TCP, &failure);
  GSocketAddress* address = nullptr;
  bool listening = false;
  if (socket != nullptr) {
    address = g_inet_socket_address_new_from_string(settings_.address.host.c_str(),
                                                    settings_.address.port);
    if (address == nullptr) {
      *error = "not an IPv4 address: " + settings_.address.host;
    } else if (g_socket_bind(socket, address, TRUE, &failure)) {
      g_socket_set_listen_backlog(socket, 64);
      listening = g_socket_listen(socket, &failure);
    }
  }
  if (address != nullptr) g_object_unref(address);
  if (!listening) {
    if (failure != nullptr) {
      *error = failure->message;
      g_error_free(failure);
    }
    if (socket != nullptr) g_object_unref(socket);
    return false;
  }
  g_socket_set_blocking(socket, FALSE);
  engine_->listener = socket;
  engine_->wake = CFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  sockaddr_in bound{};
  if (localAddressOf(g_socket_get_fd(socket), &bound)) port_ = ntohs(bound.sin_port);
  return true;
}

void CRtspRelay::start() {
  if (engine_->listener == nullptr || thread_.joinable()) return;
  thread_ = std::thread([this] { engine_->run(*this); });
}

void CRtspRelay::Engine::run(CRtspRelay& owner) {
  std::vector<pollfd> fds;
  std::vector<Link*> owners;  // per entry of fds past the listeners: its link
  const int listenFd = g_socket_get_fd(listener);
  while (!stopping.load()) {
    fds.clear();
    owners.clear();
    fds.push_back({wake.get(), POLLIN, 0});
    fds.push_back({listenFd, POLLIN, 0});
    for (const Inner& inner : inners) fds.push_back({inner.fd.get(), POLLIN, 0});
    const size_t firstLink = fds.size();
    auto deadline = Clock::time_point::max();
    for (Link& link : links) {
      short clientEvents = 0;
      if (!link.clientDone && (link.closing || link.toServer.room(settings.toServerBytes) > 0))
        clientEvents |= POLLIN;
      if (!link.toClient.empty() && !link.clientShut) clientEvents |= POLLOUT;
      short upstreamEvents = 0;
      if (link.upstream) {
        if (!link.connected) {
          upstreamEvents |= POLLOUT;
        } else {
          if (link.toClient.room(settings.toClientBytes) > 0) upstreamEvents |= POLLIN;
          if (!link.toServer.empty()) upstreamEvents |= POLLOUT;
        }
      }
      // A descriptor with nothing wanted is left out of the poll, so that a hang-up it can't act
      // on yet doesn't wake the loop over and over.
      fds.push_back({clientEvents != 0 ? link.client.get() : -1, clientEvents, 0});
      fds.push_back({upstreamEvents != 0 ? link.upstream.get() : -1, upstreamEvents, 0});
      owners.push_back(&link);
      if (link.closing) deadline = std::min(deadline, link.closeBy);
      if (!link.handedOver) deadline = std::min(deadline, link.handOverBy);
      if (!link.closing) deadline = std::min(deadline, link.requestBy);
    }
    int timeout = -1;
    if (deadline != Clock::time_point::max()) {
      const auto wait =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      timeout = static_cast<int>(std::clamp<long long>(wait + 1, 0, 60000));
    }
    if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;
    if (fds[0].revents != 0) {
      uint64_t count = 0;
      [[maybe_unused]] const ssize_t got = ::read(wake.get(), &count, sizeof count);
    }
    if (fds[1].revents != 0) acceptClients();
    {
      // Only the listeners polled this round; acceptClients() may have added one since.
      auto inner = inners.begin();
      for (size_t n = 2; n < firstLink; ++n, ++inner)
        if (fds[n].revents != 0) acceptUpstreams(*inner);
    }
    const auto now = Clock::now();
    for (size_t n = 0; n < owners.size(); ++n) {
      Link& link = *owners[n];
      const short clientEvents = fds[firstLink + 2 * n].revents;
      const short upstreamEvents = fds[firstLink + 2 * n + 1].revents;
      if (!link.dead && upstreamEvents != 0 && !link.connected && link.upstream)
        checkConnected(link);
      if (!link.dead && (clientEvents & (POLLIN | POLLHUP | POLLERR)) != 0) readClient(link);
      if (!link.dead && link.upstream && link.connected &&
          (upstreamEvents & (POLLIN | POLLHUP | POLLERR)) != 0)
        readUpstream(link);
      if (!link.dead) writeUpstream(link);
      if (!link.dead) writeClient(link);
      if (!link.dead) advance(link, now);
    }
    links.remove_if([](const Link& link) { return link.dead; });
    size_t buffered = 0;
    for (const Link& link : links) buffered += link.toClient.size() + link.toServer.size();
    owner.connections_ = links.size();
    owner.buffered_ = buffered;
  }
  links.clear();
  owner.connections_ = 0;
  owner.buffered_ = 0;
}

void CRtspRelay::Engine::acceptClients() {
  const int listenFd = g_socket_get_fd(listener);
  while (true) {
    sockaddr_in peer{};
    socklen_t peerLength = sizeof peer;
    CFd client(::accept4(listenFd, reinterpret_cast<sockaddr*>(&peer), &peerLength,
                         SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!client) return;  // none left, or out of descriptors: the next round tries again
    sockaddr_in local{};
    if (links.size() >= settings.maxConnections || peer.sin_family != AF_INET ||
        !localAddressOf(client.get(), &local))
      continue;  // closed at once
    Inner* inner = innerFor(local.sin_addr);
    if (inner == nullptr) continue;
    sockaddr_in innerAddress{};
    if (!localAddressOf(inner->fd.get(), &innerAddress)) continue;
    CFd upstream(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!upstream) continue;
    const int result =
        ::connect(upstream.get(), reinterpret_cast<sockaddr*>(&innerAddress), sizeof innerAddress);
    if (result != 0 && errno != EINPROGRESS) continue;
    sockaddr_in upstreamLocal{};
    if (!localAddressOf(upstream.get(), &upstreamLocal)) continue;
    setNoDelay(client.get());
    setNoDelay(upstream.get());
    Link& link = links.emplace_back();
    link.client = std::move(client);
    link.upstream = std::move(upstream);
    link.clientIp = ipOf(peer);
    link.clientPort = ntohs(peer.sin_port);
    link.localIp = local.sin_addr;
    link.upstreamIp = upstreamLocal.sin_addr;
    link.upstreamPort = ntohs(upstreamLocal.sin_port);
    link.connected = result == 0;
    link.handOverBy = Clock::now() + kHandOverWait;
    link.requestBy = Clock::now() + settings.requestTimeout;
  }
}

CRtspRelay::Engine::Inner* CRtspRelay::Engine::innerFor(in_addr ip) {
  for (Inner& inner : inners)
    if (inner.ip.s_addr == ip.s_addr) return &inner;
  CFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd) return nullptr;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr = ip;
  address.sin_port = 0;
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd.get(), 64) != 0)
    return nullptr;
  Inner& inner = inners.emplace_back();
  inner.ip = ip;
  inner.fd = std::move(fd);
  return &inner;
}

void CRtspRelay::Engine::acceptUpstreams(Inner& inner) {
  while (true) {
    sockaddr_in peer{};
    socklen_t peerLength = sizeof peer;
    CFd server(
        ::accept4(inner.fd.get(), reinterpret_cast<sockaddr*>(&peer), &peerLength, SOCK_CLOEXEC));
    if (!server) return;
    // Only our own loopback connections are handed on; anything else is closed unread.
    if (peer.sin_family != AF_INET) continue;
    const uint16_t port = ntohs(peer.sin_port);
    const auto found = std::find_if(links.begin(), links.end(), [&](const Link& link) {
      return !link.handedOver && !link.dead && link.upstreamPort == port &&
             link.upstreamIp.s_addr == peer.sin_addr.s_addr &&
             link.localIp.s_addr == inner.ip.s_addr;
    });
    if (found == links.end()) continue;
    setNoDelay(server.get());
    found->handedOver = true;
    found->connected = true;
    if (!handOver(server.release(), found->clientIp, found->clientPort)) found->dead = true;
  }
}

void CRtspRelay::Engine::checkConnected(Link& link) {
  int failure = 0;
  socklen_t length = sizeof failure;
  if (::getsockopt(link.upstream.get(), SOL_SOCKET, SO_ERROR, &failure, &length) != 0 ||
      failure != 0) {
    link.dead = true;
    return;
  }
  link.connected = true;
}

void CRtspRelay::Engine::readClient(Link& link) {
  uint8_t buffer[kChunk];
  const size_t want = link.closing
                          ? sizeof buffer
                          : std::min(sizeof buffer, link.toServer.room(settings.toServerBytes));
  if (want == 0) return;
  const ssize_t got = ::recv(link.client.get(), buffer, want, 0);
  if (got < 0) {
    if (!wouldBlock()) link.dead = true;
    return;
  }
  if (got == 0) {
    link.clientDone = true;
    if (link.closing) link.dead = true;
    return;
  }
  if (link.closing) return;  // what a refused or abandoned client still sends is dropped
  const RtspScanResult scan =
      scanRtspInput(link.scan, buffer, static_cast<size_t>(got), settings.limits);
  link.toServer.append(buffer, scan.passed);
  if (scan.refusal == RtspRefusal::None) {
    awaitRequest(link, Clock::now());
    return;
  }
  const std::string reply = rtspRefusalReply(link.scan);
  link.toClient.append(reinterpret_cast<const uint8_t*>(reply.data()), reply.size());
  startClosing(link);
}

void CRtspRelay::Engine::readUpstream(Link& link) {
  uint8_t buffer[kChunk];
  const size_t want = std::min(sizeof buffer, link.toClient.room(settings.toClientBytes));
  if (want == 0) return;
  const ssize_t got = ::recv(link.upstream.get(), buffer, want, 0);
  if (got < 0 && wouldBlock()) return;
  if (got <= 0) {
    startClosing(link);  // the server closed the client, or its end broke
    return;
  }
  link.toClient.append(buffer, static_cast<size_t>(got));
}

void CRtspRelay::Engine::writeClient(Link& link) {
  while (!link.toClient.empty() && !link.clientShut) {
    const ssize_t sent =
        ::send(link.client.get(), link.toClient.data(), link.toClient.size(), MSG_NOSIGNAL);
    if (sent < 0) {
      if (!wouldBlock()) link.dead = true;
      return;
    }
    link.toClient.consume(static_cast<size_t>(sent));
  }
}

void CRtspRelay::Engine::writeUpstream(Link& link) {
  if (!link.upstream || !link.connected) return;
  while (!link.toServer.empty()) {
    const ssize_t sent =
        ::send(link.upstream.get(), link.toServer.data(), link.toServer.size(), MSG_NOSIGNAL);
    if (sent < 0) {
      if (!wouldBlock()) startClosing(link);
      return;
    }
    link.toServer.consume(static_cast<size_t>(sent));
  }
  if (link.clientDone && !link.upstreamShut) {
    // The client is done sending; the server still answers what it has.
    ::shutdown(link.upstream.get(), SHUT_WR);
    link.upstreamShut = true;
  }
}

void CRtspRelay::Engine::startClosing(Link& link) {
  if (link.closing) return;
  link.closing = true;
  link.upstream.reset();  // the server sees its client go
  link.toServer.consume(link.toServer.size());
  link.closeBy = Clock::now() + settings.lingerTime;
  if (link.clientDone && link.toClient.empty()) link.dead = true;
}

// A message under way, or no request yet since the connection came, is awaited; a client
// between messages is not.
void CRtspRelay::Engine::awaitRequest(Link& link, Clock::time_point now) {
  const bool underWay = link.scan.phase != RtspScanState::Phase::Idle;
  if (underWay || link.scan.headsEnded == 0) {
    if (link.requestBy == Clock::time_point::max()) link.requestBy = now + settings.requestTimeout;
  } else {
    link.requestBy = Clock::time_point::max();
  }
}

void CRtspRelay::Engine::advance(Link& link, Clock::time_point now) {
  if (!link.handedOver && now >= link.handOverBy) link.dead = true;
  if (!link.closing && now >= link.requestBy) {
    if (!link.toServer.empty()) {
      // The server, not the client, is behind: the client gets the time the server takes.
      link.requestBy = now + std::chrono::seconds(1);
    } else {
      // A request under way is told why; a connection that said nothing, or stopped inside an
      // interleaved frame, just closes.
      if (link.scan.phase == RtspScanState::Phase::Head ||
          link.scan.phase == RtspScanState::Phase::Body) {
        const std::string reply = rtspTimeoutReply(link.scan);
        link.toClient.append(reinterpret_cast<const uint8_t*>(reply.data()), reply.size());
      }
      startClosing(link);
      if (!link.dead) writeClient(link);
    }
  }
  if (!link.closing) return;
  if (now >= link.closeBy) link.dead = true;
  if (link.toClient.empty() && !link.clientShut) {
    // The last reply is out: the end goes with it, and what the client still sends is read and
    // dropped for a while, so that its close doesn't reset the connection before the reply is read.
    ::shutdown(link.client.get(), SHUT_WR);
    link.clientShut = true;
    if (link.clientDone) link.dead = true;
  }
}
