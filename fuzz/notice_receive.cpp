// Arbitrary bytes from a DVR on the notice connection.
#include <sys/socket.h>
#include <unistd.h>

#include "protocol/notice_connection.h"
#include "protocol/reply_queue.h"
#include "receive_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::window();
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 0;
  ReplyQueue queue;
  {
    CNoticeConnection notice;
    notice.attach(0, fuzz::window().windowId(), &queue);
    notice.channel().adoptConnectedSocket(fds[0]);
    fuzz::feed(fds[1], data, size, [&] { return !notice.channel().hasLiveThread(); });
  }
  ::close(fds[1]);
  return 0;
}
