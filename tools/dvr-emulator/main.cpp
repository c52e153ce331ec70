// dvr-emulator: a DVR that speaks the viewer's protocol. Parses the options, serves until
// SIGINT, SIGTERM or the 'quit' command.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "command_input.h"
#include "dvr_emulator.h"
#include "emulator_config.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const auto parsed = dvremu::parseCommandLine(args);
  if (parsed.showHelp) {
    std::fputs(dvremu::usageText().c_str(), stdout);
    return 0;
  }
  if (parsed.showVersion) {
    std::puts(dvremu::kVersionText);
    return 0;
  }
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "dvr-emulator: %s\n", parsed.error.c_str());
    return 2;
  }
  for (const auto& warning : parsed.warnings)
    std::fprintf(stderr, "dvr-emulator: warning: %s\n", warning.c_str());

  // Signals are taken by the main thread only; every thread started later inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  sigdelset(&signals, SIGPIPE);
  const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);

  dvremu::DvrEmulator emulator(parsed.config);
  std::string error;
  if (!emulator.start(&error)) {
    std::fprintf(stderr, "dvr-emulator: %s\n", error.c_str());
    return 1;
  }
  std::printf("listening on %s:%u\n", emulator.address().c_str(),
              static_cast<unsigned>(emulator.port()));
  std::fflush(stdout);

  dvremu::CommandInput input(emulator);
  if (!input.start(parsed.config.readStdin ? STDIN_FILENO : -1, STDOUT_FILENO,
                   parsed.config.controlSocket, &error)) {
    std::fprintf(stderr, "dvr-emulator: %s\n", error.c_str());
    return 1;
  }
  pollfd fds[2] = {{signalFd, POLLIN, 0}, {emulator.quitFd(), POLLIN, 0}};
  while (::poll(fds, 2, -1) < 0) {
  }
  std::fputs("dvr-emulator: stopping\n", stderr);
  input.stop();
  emulator.stop();
  if (signalFd >= 0) ::close(signalFd);
  return 0;
}
