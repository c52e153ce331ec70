#pragma once
// A scripted DVR on loopback: the test accepts the client's connections and reads and writes the
// exact bytes of the conversation. All calls block with a time-out and run on the test's thread.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "protocol/message_header.h"

// One accepted connection.
class CScriptedPeer {
 public:
  explicit CScriptedPeer(int fd) : fd_(fd) {}
  ~CScriptedPeer() { close(); }
  CScriptedPeer(const CScriptedPeer&) = delete;
  CScriptedPeer& operator=(const CScriptedPeer&) = delete;

  bool send(std::span<const uint8_t> bytes) {
    for (size_t done = 0; done < bytes.size();) {
      const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }
  bool sendMessage(uint32_t command, std::span<const uint8_t> body = {}) {
    return send(buildMessage(command, body));
  }
  // Header with an arbitrary length field, without body.
  bool sendHeader(uint32_t command, uint32_t length) {
    return send(MessageHeader::build(command, length));
  }

  // Exactly n bytes, or empty on time-out or a closed connection.
  std::optional<std::vector<uint8_t>> readBytes(size_t n, int timeoutMs = 5000) {
    std::vector<uint8_t> bytes(n);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (size_t done = 0; done < n;) {
      if (!waitReadable(deadline)) return std::nullopt;
      const ssize_t got = ::recv(fd_, bytes.data() + done, n - done, 0);
      if (got <= 0) return std::nullopt;
      done += static_cast<size_t>(got);
    }
    return bytes;
  }
  // True when nothing arrives within ms (the connection may stay open; a close is quiet too).
  bool quietFor(int ms) { return !readBytes(1, ms); }
  // True when the client closed the connection within timeoutMs (pending bytes are skipped).
  bool closedByClient(int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    uint8_t scratch[4096];
    while (waitReadable(deadline))
      if (::recv(fd_, scratch, sizeof scratch, 0) <= 0) return true;
    return false;
  }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  bool waitReadable(std::chrono::steady_clock::time_point deadline) {
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) > 0) return true;
    }
  }
  int fd_;
};

// A listening socket on 127.0.0.1 with a port of the system's choice.
class CScriptedListener {
 public:
  CScriptedListener() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    const int yes = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), size);
    ::listen(fd_, 8);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
  }
  ~CScriptedListener() { ::close(fd_); }
  CScriptedListener(const CScriptedListener&) = delete;
  CScriptedListener& operator=(const CScriptedListener&) = delete;

  uint16_t port() const { return port_; }
  // The next connection, or null after timeoutMs.
  std::unique_ptr<CScriptedPeer> accept(int timeoutMs = 5000) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return nullptr;
    const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    return fd < 0 ? nullptr : std::make_unique<CScriptedPeer>(fd);
  }

 private:
  int fd_;
  uint16_t port_ = 0;
};

// A listener on 127.0.0.1 whose accept queue is full and never drained: the system drops every
// further SYN, so a connect to it stays in progress until it is aborted. Deterministic, unlike
// an outside address that may answer or fail at once.
class CFullListener {
 public:
  CFullListener() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), size);
    ::listen(fd_, 0);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    // Fill the queue: connect until a connect stays pending.
    for (int i = 0; i < 16 && !full_; ++i) {
      const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      fillers_.push_back(filler);
      ::connect(filler, reinterpret_cast<sockaddr*>(&address), size);
      pollfd p{filler, POLLOUT, 0};
      full_ = ::poll(&p, 1, 200) == 0;
    }
  }
  ~CFullListener() {
    for (int filler : fillers_) ::close(filler);
    ::close(fd_);
  }
  CFullListener(const CFullListener&) = delete;
  CFullListener& operator=(const CFullListener&) = delete;

  uint16_t port() const { return port_; }
  bool full() const { return full_; }

 private:
  int fd_;
  uint16_t port_ = 0;
  bool full_ = false;
  std::vector<int> fillers_;
};

// A port on 127.0.0.1 where nothing listens.
inline uint16_t unusedLoopbackPort() {
  return CScriptedListener().port();  // closed at once: connects to it are refused
}
