#pragma once
// Shared by the receive-loop fuzzers: a window and an application object for the connections to
// post to, and a feeder that plays a byte stream into one end of a socketpair whose other end a
// channel has adopted, while draining whatever the connection answers.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/message_window.h"

namespace fuzz {

class CSilentWindow final : public CMessageWindow {
 public:
  int onMessage(uint32_t, uintptr_t, intptr_t) override { return 0; }
};

inline QCoreApplication& application() {
  static int argc = 1;
  static char name[] = "fuzz";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  return app;
}

inline CSilentWindow& window() {
  application();
  static CSilentWindow w;
  return w;
}

// Writes data into fd, reads and drops everything that comes back, then half-closes and drains
// until finished() (the receive thread has ended) or the peer closed. The thread's end wakes no
// descriptor, so after the half-close the feeder looks every 20 us rather than sleeping in poll:
// a millisecond per input would cap the target at a thousand runs a second.
inline void feed(int fd, const uint8_t* data, size_t size, const std::function<bool()>& finished) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  uint8_t scratch[8192];
  size_t sent = 0;
  bool halfClosed = false;
  while (Clock::now() < deadline) {
    if (sent == size && !halfClosed) {
      ::shutdown(fd, SHUT_WR);
      halfClosed = true;
    }
    if (halfClosed && finished()) break;
    pollfd p{fd, static_cast<short>(POLLIN | (sent < size ? POLLOUT : 0)), 0};
    if (::poll(&p, 1, halfClosed ? 0 : 1) <= 0) {
      if (halfClosed) ::usleep(20);
      continue;
    }
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
      const ssize_t n = ::recv(fd, scratch, sizeof scratch, MSG_DONTWAIT);
      if (n == 0 && halfClosed) break;  // the connection closed its end
    }
    if (sent < size && (p.revents & POLLOUT)) {
      const ssize_t n = ::send(fd, data + sent, size - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
      if (n > 0) sent += static_cast<size_t>(n);
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) sent = size;
    }
  }
  QCoreApplication::processEvents();  // drops the messages posted meanwhile
}

}  // namespace fuzz
