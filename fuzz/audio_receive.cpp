// Arbitrary bytes from a DVR on the audio connection, blocks handed to a checking player.
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

#include "protocol/audio_connection.h"
#include "protocol/audio_sink.h"
#include "protocol/dvr_client.h"
#include "protocol/reply_queue.h"
#include "receive_harness.h"

namespace {

class CCheckingPlayer final : public IAudioSink {
 public:
  int32_t open(WindowId) override { return 0; }
  void close() override { mode_ = AudioCodecMode::G726; }
  int32_t playG726(const uint8_t* payload, uint32_t length) override {
    if (length > CAudioConnection::kMaxG726Payload) std::abort();
    return touch(payload, length);
  }
  int32_t playAdpcm(const uint8_t* payload, uint32_t length) override {
    if (length > CAudioConnection::kMaxAdpcmPayload) std::abort();
    return touch(payload, length);
  }
  AudioCodecMode mode() const override { return mode_.load(); }
  void setMode(AudioCodecMode mode) override { mode_ = mode; }

 private:
  static int32_t touch(const uint8_t* payload, uint32_t length) {
    unsigned sum = 0;
    for (uint32_t i = 0; i < length; ++i) sum += payload[i];
    return static_cast<int32_t>(sum & 1);
  }
  std::atomic<AudioCodecMode> mode_{AudioCodecMode::G726};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::window();
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 0;
  ReplyQueue queue;
  CCheckingPlayer player;
  {
    CDvrClient owner;  // only as the audio connection's owner pointer
    CAudioConnection audio;
    audio.attach(0, fuzz::window().windowId(), &player, &owner, &queue);
    audio.channel().adoptConnectedSocket(fds[0]);
    fuzz::feed(fds[1], data, size, [&] { return !audio.channel().hasLiveThread(); });
  }
  ::close(fds[1]);
  return 0;
}
