// Arbitrary argument vectors (NUL-separated) for the command line parser. A parse that succeeds
// must give values inside their ranges; a failure must say why.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  std::vector<std::string> args(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.emplace_back();
    } else {
      args.back().push_back(static_cast<char>(data[i]));
    }
  }
  CommandLineOptions options;
  std::string error;
  if (!parseCommandLine(args, &options, &error)) {
    if (error.empty()) std::abort();
    // One line, unless the offending argument itself holds a line break.
    if (error.find('\n') != std::string::npos) {
      bool argumentHasBreak = false;
      for (const auto& arg : args) argumentHasBreak |= arg.find('\n') != std::string::npos;
      if (!argumentHasBreak) std::abort();
    }
    return 0;
  }
  if (options.channel < 0 || options.channel > 16) std::abort();
  if (options.zoom < 0 || options.zoom > 4) std::abort();
  if (!options.host.empty() && (options.port == 0 || options.demo)) std::abort();
  if (options.linkTimeoutSeconds < 1 || !(options.quitAfterSeconds >= 0)) std::abort();
  // Every seconds option fits a timer's int milliseconds.
  for (double seconds : {options.linkTimeoutSeconds, options.quitAfterSeconds, options.tourSeconds})
    if (!(seconds <= kMaxOptionSeconds) || seconds * 1000 > 2147483647.0) std::abort();
  // IPv4 only: a host never holds a colon or a bracket.
  if (options.host.find_first_of(":[]") != std::string::npos) std::abort();
  if (!options.user.empty() && options.user.size() > 32) std::abort();
  for (char c : options.user)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) std::abort();
  std::string host;
  uint16_t port = 0;
  std::string why;
  if (parseHostPort(args[0], &host, &port, &why)) {
    if (host.empty() || port == 0) std::abort();
  } else if (why.empty() || why.find('\n') != std::string::npos) {
    std::abort();
  }
  return 0;
}
