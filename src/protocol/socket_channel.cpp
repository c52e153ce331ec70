#include "protocol/socket_channel.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>

#include "protocol/host_resolver.h"

namespace {

// Socket buffer sizes per variant; 0 leaves the system default.
int bufferSize(ChannelVariant variant) {
  switch (variant) {
    case ChannelVariant::Control:
    case ChannelVariant::Notice:
      return 8195;
    case ChannelVariant::Audio:
      return 4096;
    case ChannelVariant::Stream:
      return 0;
  }
  return 0;
}

}  // namespace

CSocketChannel::CSocketChannel(ChannelVariant variant) : variant_(variant) {}

CSocketChannel::~CSocketChannel() {
  std::lock_guard life(lifecycleMutex_);
  stopAndJoin();
}

int CSocketChannel::setOwner(ISocketOwner* owner) {
  if (owner == nullptr) return 0;
  owner_.store(owner);
  return 1;
}

int CSocketChannel::connect(std::string_view address, uint32_t port) {
  const auto port16 = static_cast<uint16_t>(port & 0xFFFF);
  if (address.empty() || address.size() >= kAddressSize || port16 == 0) return 0;
  return start(address, port16, -1);
}

int CSocketChannel::adoptConnectedSocket(int fd) {
  if (fd < 0) return 0;
  return start("", 0, fd);
}

int CSocketChannel::start(std::string_view address, uint16_t port, int connectedFd) {
  if (onReceiveThread()) {
    if (connectedFd >= 0) ::close(connectedFd);
    return 0;  // the thread can't replace itself
  }
  std::lock_guard life(lifecycleMutex_);
  stopAndJoin();
  int fd = connectedFd;
  if (fd < 0) fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  {
    std::lock_guard lock(fdMutex_);
    fd_ = fd;
    address_ = std::string(address);
    port_ = port;
  }
  stopRequested_ = false;
  running_ = false;
  finished_ = false;
  try {
    thread_ = std::thread(&CSocketChannel::threadMain, this, connectedFd >= 0);
  } catch (const std::system_error&) {
    finished_ = true;
    resetConnection();
    return 0;
  }
  return 1;
}

void CSocketChannel::setReceiveTimeoutMs(int ms) {
  receiveTimeoutMs_ = ms > 0 ? ms : 0;
}

bool CSocketChannel::connectSocket(int fd, int* error) {
  std::string host;
  {
    std::lock_guard lock(fdMutex_);
    host = address_;
  }
  // A name lookup may take long: close() abandons it like a connect under way.
  const auto dotted = resolveForConnect(host, [this] { return stopRequested_.load(); });
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  if (!dotted || ::inet_pton(AF_INET, dotted->c_str(), &peer.sin_addr) != 1) {
    *error = EHOSTUNREACH;
    return false;
  }
  {
    std::lock_guard lock(fdMutex_);
    address_ = *dotted;
    peer.sin_port = htons(port_);
  }
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) return true;
  *error = errno != 0 ? errno : ECONNREFUSED;
  return false;
}

void CSocketChannel::threadMain(bool alreadyConnected) {
  threadId_.store(std::this_thread::get_id());
  int fd = -1;
  {
    std::lock_guard lock(fdMutex_);
    fd = fd_;
  }
  if (const int size = bufferSize(variant_); size > 0) {
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  }
  ISocketOwner* owner = owner_.load();
  int error = 0;
  const bool connected = alreadyConnected || connectSocket(fd, &error);
  if (const int ms = receiveTimeoutMs_.load(); connected && ms > 0) {
    timeval timeout{ms / 1000, (ms % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  }
  if (!connected) {
    if (!stopRequested_ && owner != nullptr) owner->onConnectResult(error);
  } else if (!stopRequested_) {
    running_ = true;
    if (owner != nullptr) {
      owner->onConnectResult(0);
      while (running_ && owner->channelReceiveStep()) {
        if (variant_ == ChannelVariant::Audio) std::this_thread::yield();
      }
    }
  }
  running_ = false;
  resetConnection();
  finished_ = true;
}

void CSocketChannel::resetConnection() {
  std::lock_guard sendLock(sendMutex_);  // no send may be using the descriptor
  std::lock_guard lock(fdMutex_);
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  port_ = 0;
  address_.clear();
}

void CSocketChannel::shutdownSocket() {
  std::lock_guard lock(fdMutex_);
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

void CSocketChannel::stopAndJoin() {
  if (!thread_.joinable()) {
    resetConnection();
    return;
  }
  stopRequested_ = true;
  running_ = false;
  // shutdown() wakes a blocked recv, send or connect at once; it is repeated because a connect
  // that hasn't begun yet when it is first called is only aborted by a later one. Receive threads
  // never wait for the UI thread (they only post to windows), so this wait handles no window
  // message: no handler can run inside a close.
  while (!finished_) {
    shutdownSocket();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  thread_.join();
  threadId_.store(std::thread::id{});
  resetConnection();
}

int CSocketChannel::close() {
  if (onReceiveThread()) {
    stopRequested_ = true;
    running_ = false;
    shutdownSocket();
    return 1;
  }
  std::lock_guard life(lifecycleMutex_);
  if (!thread_.joinable()) return 0;
  const bool live = !finished_;
  stopAndJoin();
  return live ? 1 : 0;
}

bool CSocketChannel::send(const uint8_t* data, size_t length, size_t* accepted) {
  if (data == nullptr || length == 0) return false;
  std::unique_lock sendLock(sendMutex_);
  int fd = -1;
  {
    std::lock_guard lock(fdMutex_);
    fd = fd_;
  }
  if (fd < 0) return false;
  size_t total = 0;
  while (total < length) {
    const ssize_t n = ::send(fd, data + total, length - total, MSG_NOSIGNAL);
    if (n > 0) {
      total += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    sendLock.unlock();
    errorAction();
    return false;
  }
  if (accepted != nullptr) *accepted = total;
  return true;
}

bool CSocketChannel::receive(uint8_t* buffer, size_t size, size_t* received) {
  if (buffer == nullptr || size == 0 || received == nullptr) return false;
  int fd = -1;
  {
    std::lock_guard lock(fdMutex_);
    fd = fd_;
  }
  for (;;) {
    const ssize_t n = fd < 0 ? -1 : ::recv(fd, buffer, size, 0);
    if (n > 0) {
      *received = static_cast<size_t>(n);
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    // Also a receive time-out (EAGAIN): the peer has been silent for too long.
    errorAction();
    return false;
  }
}

void CSocketChannel::failConnection() {
  errorAction();
}

void CSocketChannel::errorAction() {
  // The exchange makes the owner hear of a lost connection once, and never during close().
  if (!running_.exchange(false)) return;
  if (ISocketOwner* owner = owner_.load()) owner->onChannelError();
  shutdownSocket();
}

bool CSocketChannel::hasLiveThread() const {
  return !finished_.load();
}

bool CSocketChannel::onReceiveThread() const {
  return threadId_.load() == std::this_thread::get_id();
}

uint16_t CSocketChannel::port() const {
  std::lock_guard lock(fdMutex_);
  return port_;
}

std::string CSocketChannel::address() const {
  std::lock_guard lock(fdMutex_);
  return address_;
}
