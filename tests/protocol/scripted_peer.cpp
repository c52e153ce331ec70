#include "scripted_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "protocol/byte_order.h"

uint32_t PeerMessage::command() const {
  return readBe32(header.data() + 9);
}
uint32_t PeerMessage::length() const {
  return readBe32(header.data() + 5);
}
uint32_t PeerMessage::subCode() const {
  return readBe32(header.data() + 13);
}
std::vector<uint8_t> PeerMessage::wire() const {
  std::vector<uint8_t> all(header.begin(), header.end());
  all.insert(all.end(), body.begin(), body.end());
  return all;
}

CScriptedPeer::CScriptedPeer(int fd) : fd_(fd) {}
CScriptedPeer::~CScriptedPeer() {
  close();
}

void CScriptedPeer::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool CScriptedPeer::send(std::span<const uint8_t> bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool CScriptedPeer::sendMessage(uint32_t command, std::span<const uint8_t> body) {
  return send(buildMessage(command, body));
}

bool CScriptedPeer::sendHeader(uint32_t command, uint32_t length) {
  return send(MessageHeader::build(command, length));
}

std::optional<std::vector<uint8_t>> CScriptedPeer::readBytes(size_t n, int timeoutMs) {
  std::vector<uint8_t> bytes(n);
  size_t done = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (done < n) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    const ssize_t got = ::recv(fd_, bytes.data() + done, n - done, 0);
    if (got <= 0) return std::nullopt;
    done += static_cast<size_t>(got);
  }
  return bytes;
}

std::optional<PeerMessage> CScriptedPeer::readMessage(int timeoutMs) {
  auto header = readBytes(MessageHeader::kSize, timeoutMs);
  if (!header) return std::nullopt;
  PeerMessage message;
  std::copy(header->begin(), header->end(), message.header.begin());
  if (message.length() > 0) {
    auto body = readBytes(message.length(), timeoutMs);
    if (!body) return std::nullopt;
    message.body = std::move(*body);
  }
  return message;
}

bool CScriptedPeer::quietFor(int ms) {
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, ms) <= 0) return true;
  uint8_t byte;
  return ::recv(fd_, &byte, 1, MSG_PEEK) <= 0;  // a close is quiet too
}

bool CScriptedPeer::closedByClient(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  uint8_t scratch[4096];
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    const ssize_t n = ::recv(fd_, scratch, sizeof scratch, 0);
    if (n <= 0) return true;
  }
  return false;
}

CScriptedListener::CScriptedListener() {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int yes = 1;
  ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(fd_, 8);
  socklen_t size = sizeof address;
  ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
  port_ = ntohs(address.sin_port);
}

CScriptedListener::~CScriptedListener() {
  close();
}

void CScriptedListener::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::unique_ptr<CScriptedPeer> CScriptedListener::accept(int timeoutMs) {
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, timeoutMs) <= 0) return nullptr;
  const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return nullptr;
  return std::make_unique<CScriptedPeer>(fd);
}

uint16_t unusedLoopbackPort() {
  CScriptedListener listener;
  return listener.port();  // closed on return: connects to it are refused
}
