// Arbitrary bytes from a DVR on the live-stream connection, frames handed to checking sinks.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

#include "protocol/frame_sinks.h"
#include "protocol/reply_queue.h"
#include "protocol/stream_connection.h"
#include "receive_harness.h"

namespace {

// Touches every byte it is promised, so the sanitizers see any frame that leaves the buffer.
class CTouchingSink final : public ICodecFrameSink, public IJpegFrameSink {
 public:
  bool decodeFrame(const uint8_t* frame, uint32_t length) override { return check(frame, length); }
  bool drawJpegFrame(uint8_t* frame, uint32_t length) override {
    check(frame, length);
    frame[length + 2] = 0xFF;  // the JPEG decoder may write this far
    return true;
  }

 private:
  static bool check(const uint8_t* frame, uint32_t length) {
    if (length == 0 || frame[0] != 0x01) std::abort();
    unsigned sum = 0;
    for (uint32_t i = 0; i < length + kFrameReadSlack; ++i) sum += frame[i];
    for (uint32_t i = 0; i < kFrameReadSlack; ++i)
      if (frame[length + i] != 0) std::abort();
    return sum != 0;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::window();
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 0;
  ReplyQueue queue;
  static CTouchingSink sink;
  // One connection for every input, as the viewer keeps one across reconnects: its 800 KB buffer
  // is zeroed once, and every input also checks that a new connection starts from a clean state.
  static CStreamConnection stream;
  stream.init(0, fuzz::window().windowId(), &sink, &sink, &queue);
  stream.selectChannel(static_cast<int32_t>(size % 16));
  stream.channel().adoptConnectedSocket(fds[0]);
  fuzz::feed(fds[1], data, size, [&] { return !stream.channel().hasLiveThread(); });
  stream.close();
  ::close(fds[1]);
  return 0;
}
