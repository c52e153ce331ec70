// What the bridge parses from outside: the first byte picks the reader, the rest is its input.
// A request path, a settings file, a users file or command-line arguments (NUL-separated); with
// the first byte 0xFE an RTSP request's path, with 0xFF an MPEG-4 frame an RTSP media may start
// on, with 0xFD what an RTSP client sends (two bytes of limits, then the stream). Every result
// must stay inside its ranges and every failure must say why.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/auth_users.h"
#include "bridge/bridge_options.h"
#include "bridge/request_target.h"
#include "bridge/rtsp_channel.h"
#include "bridge/rtsp_path.h"
#include "bridge/rtsp_request_guard.h"

namespace {

void checkOptions(const BridgeOptions& options, const OptionsResult& result) {
  if (!result.ok) {
    if (result.error.empty()) std::abort();
    return;
  }
  if (options.graceSeconds < 0 || options.graceSeconds > 3600) std::abort();
  if (options.maxClients < 1 || options.maxClients > 1000) std::abort();
  if (options.channelMask > 0xFFFFu) std::abort();
  if (!options.dvrAddress.empty() && options.dvrPort == 0) std::abort();
}

// The stream whole and in pieces whose sizes come from the stream itself: the same bytes pass
// and the same refusal comes, within the bounds.
void checkRtspScan(const uint8_t* data, size_t size) {
  if (size < 2) return;
  RtspRequestLimits limits;
  limits.maxHeadBytes = 32 + data[0] * 8u;
  limits.maxHeaderLines = data[1] % 24u;
  limits.maxBodyBytes = data[0] * 4u;
  const std::vector<uint8_t> stream(data + 2, data + size);  // exact size: a read past is caught
  RtspScanState whole;
  const RtspScanResult once = scanRtspInput(whole, stream.data(), stream.size(), limits);
  if (once.passed > stream.size()) std::abort();
  if ((once.refusal == RtspRefusal::None) != (once.passed == stream.size())) std::abort();
  if (whole.headBytes > limits.maxHeadBytes || whole.headerLines > limits.maxHeaderLines)
    std::abort();
  RtspScanState split;
  size_t passed = 0, at = 0;
  RtspRefusal refusal = RtspRefusal::None;
  for (size_t n = 0; at < stream.size() && refusal == RtspRefusal::None; ++n) {
    const size_t length = std::min<size_t>(1 + stream[n % stream.size()] % 7, stream.size() - at);
    const std::vector<uint8_t> piece(stream.begin() + static_cast<std::ptrdiff_t>(at),
                                     stream.begin() + static_cast<std::ptrdiff_t>(at + length));
    const RtspScanResult result = scanRtspInput(split, piece.data(), piece.size(), limits);
    if (result.passed > length) std::abort();
    passed += result.passed;
    refusal = result.refusal;
    at += length;
  }
  if (passed != once.passed || refusal != once.refusal) std::abort();
  if (once.refusal != RtspRefusal::None) {
    const std::string reply = rtspRefusalReply(whole);
    if (reply.rfind("RTSP/1.0 4", 0) != 0 || reply != rtspRefusalReply(split)) std::abort();
    if (reply.size() > 100) std::abort();  // a status line, a CSeq of ten digits at most
  }
}

bool noFiles(const std::string&, std::string*, std::string* error) {
  *error = "no files";
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 8192) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  if (data[0] == 0xFE) {
    const int channel = rtspChannelOfPath(text);
    if (channel < -1 || channel > 15) std::abort();
    return 0;
  }
  if (data[0] == 0xFD) {
    checkRtspScan(data + 1, size - 1);
    return 0;
  }
  if (data[0] == 0xFF) {
    // An exact-size copy, so that a read past the frame is caught.
    const std::vector<uint8_t> frame(data + 1, data + size);
    carriesMpeg4Config(frame.data(), frame.size());
    return 0;
  }
  switch (data[0] % 4) {
    case 0: {
      const RequestTarget target = parseRequestTarget(text);
      const bool channelKind =
          target.kind == RequestKind::Stream || target.kind == RequestKind::Snapshot;
      if (channelKind && target.channel > 15) std::abort();
      if (!channelKind && target.channel != 0) std::abort();
      break;
    }
    case 1: {
      BridgeOptions options;
      checkOptions(options, parseBridgeConfig(text, &options));
      break;
    }
    case 2: {
      CAuthUsers users;
      std::string error;
      const bool ok = users.parse(text, &error);
      if (ok == users.empty() || ok != error.empty()) std::abort();
      users.admits(text.substr(0, text.size() / 2), text.substr(text.size() / 2));
      break;
    }
    default: {
      std::vector<std::string> args(1);
      for (const char c : text) {
        if (c == '\0') {
          args.emplace_back();
        } else {
          args.back().push_back(c);
        }
      }
      BridgeOptions options;
      checkOptions(options, parseBridgeArguments(args, &options, noFiles));
      break;
    }
  }
  return 0;
}
