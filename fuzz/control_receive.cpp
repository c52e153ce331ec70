// Arbitrary bytes from a DVR on the control connection.
#include <sys/socket.h>
#include <unistd.h>

#include "protocol/dvr_client.h"
#include "protocol/reply_queue.h"
#include "receive_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::window();
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 0;
  ReplyQueue queue;  // not started: replies wait in the ring until it is full
  {
    CDvrClient client;
    client.attach(0, fuzz::window().windowId(), &queue);
    client.state().setUserId("fuzz-user");
    client.state().setPassword("fuzz-password");
    // Sub-connections stay unattached, so RSP_LIVEOPEN and RSP_AUDIOOPEN open nothing.
    client.controlChannel().adoptConnectedSocket(fds[0]);
    fuzz::feed(fds[1], data, size, [&] { return !client.controlChannel().hasLiveThread(); });
  }
  ::close(fds[1]);
  return 0;
}
