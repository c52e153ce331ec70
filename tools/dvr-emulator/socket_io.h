#pragma once
// Thin RAII wrappers over POSIX TCP sockets, as the emulator's connection threads use them.
#include <sys/uio.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace dvremu {

// Owns one file descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release();
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// Listen queue length: rapid reconnects from many viewers must not overflow it (an overflow
// costs the viewer a SYN retransmission, a second or more). The kernel caps it at somaxconn.
inline constexpr int kListenBacklog = 4096;

// A listening IPv4 TCP socket on address:port (port 0 picks one). Invalid on failure, with the
// reason in *error.
UniqueFd listenTcp(const std::string& address, uint16_t port, std::string* error);
uint16_t localPort(int fd);
std::string peerName(int fd);

// Accepts one pending connection (non-blocking listener); invalid when none is pending, with
// errno telling why.
UniqueFd acceptConnection(int listenFd);

// Sends every byte of the vectors (blocking socket); false when the peer is gone.
bool sendAll(int fd, const iovec* parts, size_t count);
bool sendAll(int fd, const void* data, size_t size);

// Wakes every waiting connection thread at once on shutdown (an eventfd that stays readable).
class WakeEvent {
 public:
  WakeEvent();
  int fd() const { return fd_.get(); }
  void signal();

 private:
  UniqueFd fd_;
};

// Waits until fd is readable, wake fires, or the deadline passes. Returns 1 readable, 0 time-out,
// -1 woken (shutdown) or error. A negative timeout waits without limit.
int waitReadable(int fd, int wakeFd, int timeoutMs);

int millisecondsUntil(std::chrono::steady_clock::time_point deadline);

}  // namespace dvremu
