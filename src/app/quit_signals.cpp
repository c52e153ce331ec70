#include "app/quit_signals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>

namespace {
constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGHUP};

// Shared with the handler: only lock-free atomics and async-signal-safe calls there.
std::atomic<int> gWriteFd{-1};
std::atomic<int> gReceived{0};
static_assert(std::atomic<int>::is_always_lock_free);

struct sigaction gPrevious[kSignals.size()];

void onQuitSignal(int number) {
  const int savedErrno = errno;
  if (gReceived.fetch_add(1) > 0) {
    // The orderly end is already under way and someone insists: end now.
    ::signal(number, SIG_DFL);
    ::raise(number);
  }
  const char byte = static_cast<char>(number);
  const int fd = gWriteFd.load();
  if (fd >= 0) (void)!::write(fd, &byte, 1);
  errno = savedErrno;
}
}  // namespace

CQuitSignals::CQuitSignals(std::function<void()> onQuit) : onQuit_(std::move(onQuit)) {
  if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &CQuitSignals::readPipe);
  gReceived = 0;
  gWriteFd = pipe_[1];
  struct sigaction action {};
  action.sa_handler = onQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  installed_ = true;
  for (size_t i = 0; i < kSignals.size(); ++i) {
    if (::sigaction(kSignals[i], &action, &gPrevious[i]) != 0) installed_ = false;
  }
}

CQuitSignals::~CQuitSignals() {
  if (pipe_[0] < 0) return;
  for (size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &gPrevious[i], nullptr);
  gWriteFd = -1;
  notifier_.reset();
  ::close(pipe_[0]);
  ::close(pipe_[1]);
}

void CQuitSignals::readPipe() {
  char buffer[16];
  while (::read(pipe_[0], buffer, sizeof buffer) > 0) {
  }
  if (quitting_) return;
  quitting_ = true;
  if (onQuit_) onQuit_();
}
