// Arbitrary bytes from a DVR on a live-stream connection that pulls many channels: every answer
// goes through the frame puller to a sink that checks what it is promised.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

#include "protocol/frame_sinks.h"
#include "protocol/live_frame_puller.h"
#include "protocol/reply_queue.h"
#include "protocol/stream_connection.h"
#include "receive_harness.h"

namespace {

// Touches every byte it is promised, so the sanitizers see any frame that leaves the buffer.
class CTouchingFrameSink final : public IChannelFrameSink {
 public:
  void onChannelFrame(const ChannelFrame& frame) override {
    if (frame.length < 2 || frame.data[0] != 0x01 || frame.data[1] != frame.channel ||
        frame.channel >= kMaxFrameChannels || frame.frameType > 1 || frame.sequence == 0) {
      std::abort();
    }
    unsigned sum = 0;
    for (uint32_t i = 0; i < frame.length + kFrameReadSlack; ++i) sum += frame.data[i];
    for (uint32_t i = 0; i < kFrameReadSlack; ++i)
      if (frame.data[frame.length + i] != 0) std::abort();
    touched_ += sum;
  }

 private:
  unsigned touched_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::window();
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 0;
  ReplyQueue queue;
  static CTouchingFrameSink sink;
  static CLiveFramePuller puller(sink);
  static CStreamConnection stream;
  stream.initRouted(0, fuzz::window().windowId(), &puller, &queue);
  puller.forgetOutstanding();
  puller.setPulled(static_cast<uint32_t>(size * 2654435761u) & 0xFFFF);
  stream.channel().adoptConnectedSocket(fds[0]);
  puller.start(stream);
  fuzz::feed(fds[1], data, size, [&] { return !stream.channel().hasLiveThread(); });
  puller.stop();
  stream.close();
  ::close(fds[1]);
  return 0;
}
