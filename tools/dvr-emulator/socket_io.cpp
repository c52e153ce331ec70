#include "socket_io.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <climits>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace dvremu {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

int UniqueFd::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

UniqueFd listenTcp(const std::string& address, uint16_t port, std::string* error) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) {
    if (error) *error = "not an IPv4 address: " + address;
    return {};
  }
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.valid()) {
    if (error) *error = std::string("socket: ") + std::strerror(errno);
    return {};
  }
  const int one = 1;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(fd.get(), kListenBacklog) != 0) {
    if (error)
      *error = "cannot listen on " + address + std::string(":") + std::to_string(port) + ": " +
               std::strerror(errno);
    return {};
  }
  return fd;
}

uint16_t localPort(int fd) {
  sockaddr_in addr{};
  socklen_t size = sizeof addr;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) != 0) return 0;
  return ntohs(addr.sin_port);
}

std::string peerName(int fd) {
  sockaddr_in addr{};
  socklen_t size = sizeof addr;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &size) != 0) return "?";
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
  return std::string(text) + std::string(":") + std::to_string(ntohs(addr.sin_port));
}

UniqueFd acceptConnection(int listenFd) {
  UniqueFd fd(::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC));
  if (fd.valid()) {
    const int one = 1;
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  return fd;
}

bool sendAll(int fd, const iovec* parts, size_t count) {
  std::vector<iovec> rest(parts, parts + count);
  size_t first = 0;
  while (first < rest.size()) {
    msghdr message{};
    message.msg_iov = rest.data() + first;
    message.msg_iovlen = std::min<size_t>(rest.size() - first, IOV_MAX);
    const ssize_t sent = ::sendmsg(fd, &message, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    auto left = static_cast<size_t>(sent);
    while (first < rest.size() && left >= rest[first].iov_len) {
      left -= rest[first].iov_len;
      ++first;
    }
    if (left > 0) {
      rest[first].iov_base = static_cast<uint8_t*>(rest[first].iov_base) + left;
      rest[first].iov_len -= left;
    }
  }
  return true;
}

bool sendAll(int fd, const void* data, size_t size) {
  iovec part{const_cast<void*>(data), size};
  return size == 0 || sendAll(fd, &part, 1);
}

WakeEvent::WakeEvent() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void WakeEvent::signal() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(fd_.get(), &one, sizeof one);
}

int waitReadable(int fd, int wakeFd, int timeoutMs) {
  pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
  while (true) {
    const int ready = ::poll(fds, wakeFd >= 0 ? 2 : 1, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return -1;
    if (ready == 0) return 0;
    if (wakeFd >= 0 && (fds[1].revents & POLLIN)) return -1;
    return 1;
  }
}

int millisecondsUntil(std::chrono::steady_clock::time_point deadline) {
  const auto left = deadline - std::chrono::steady_clock::now();
  if (left <= std::chrono::steady_clock::duration::zero()) return 0;
  return static_cast<int>(std::clamp<int64_t>(
      std::chrono::ceil<std::chrono::milliseconds>(left).count(), 0, 3'600'000));
}

}  // namespace dvremu
