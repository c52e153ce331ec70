#include "command_input.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace dvremu {
namespace {

void writeText(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == ENOTSOCK) {
      const ssize_t w = ::write(fd, text.data() + done, text.size() - done);
      if (w <= 0) return;
      done += static_cast<size_t>(w);
      continue;
    }
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace

bool CommandInput::start(int inputFd, int outputFd, const std::string& socketPath,
                         std::string* error) {
  if (!socketPath.empty()) {
    std::string reason;
    socket_ = openControlSocket(socketPath, &socketIdentity_, &reason);
    if (!socket_.valid()) {
      if (error) *error = reason;
      return false;
    }
    socketPath_ = socketPath;
    socketThread_ = std::thread([this] { serveSocket(); });
  }
  if (inputFd >= 0)
    streamThread_ = std::thread([this, inputFd, outputFd] { readLines(inputFd, outputFd); });
  return true;
}

void CommandInput::stop() {
  stop_.signal();
  if (streamThread_.joinable()) streamThread_.join();
  if (socketThread_.joinable()) socketThread_.join();
  if (!socketPath_.empty()) {
    removeControlSocket(socketPath_, socketIdentity_);
    socketPath_.clear();
  }
}

void CommandInput::readLines(int inputFd, int outputFd) {
  std::string pending;
  char chunk[1024];
  while (true) {
    const int ready = waitReadable(inputFd, stop_.fd(), -1);
    if (ready <= 0) return;
    const ssize_t n = ::read(inputFd, chunk, sizeof chunk);
    if (n <= 0) return;  // end of input: the emulator keeps running
    pending.append(chunk, static_cast<size_t>(n));
    if (pending.size() > 64 * 1024) pending.clear();  // a line that never ends is dropped
    size_t newline;
    while ((newline = pending.find('\n')) != std::string::npos) {
      const std::string line = pending.substr(0, newline);
      pending.erase(0, newline + 1);
      writeText(outputFd, emulator_.execute(line));
    }
  }
}

void CommandInput::serveSocket() {
  while (true) {
    const int ready = waitReadable(socket_.get(), stop_.fd(), -1);
    if (ready < 0) return;
    if (ready == 0) continue;
    UniqueFd client(::accept4(socket_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!client.valid()) continue;
    readLines(client.get(), client.get());  // one client at a time
  }
}

}  // namespace dvremu
