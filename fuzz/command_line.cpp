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
    return 0;
  }
  if (options.channel < 0 || options.channel > 16) std::abort();
  if (options.zoom < 0 || options.zoom > 4) std::abort();
  if (!options.host.empty() && (options.port == 0 || options.demo)) std::abort();
  if (options.linkTimeoutSeconds < 1 || !(options.quitAfterSeconds >= 0)) std::abort();
  std::string host;
  uint16_t port = 0;
  if (parseHostPort(args[0], &host, &port) && (host.empty() || port == 0)) std::abort();
  return 0;
}
