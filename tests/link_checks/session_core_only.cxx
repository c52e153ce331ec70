// A program on the session alone, linked with Qt Core and nothing of Qt Gui or Widgets: it must
// build, and a connection to a port where nobody listens must end as a failed connect.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>

#include <cstdio>
#include <string>

#include "platform/message_window.h"
#include "session/live_session.h"

namespace {

class CEndListener final : public ISessionListener {
 public:
  void onPhaseChanged(SessionPhase, const std::string&) override {}
  void onDvrInfo(const DvrInfo&) override {}
  void onChannelsChanged(uint32_t, uint32_t) override {}
  void onNotice(const std::string&) override {}
  void onMessage(const std::string&) override {}
  void onEnded(SessionEnd reason, const std::string& text) override {
    ended = true;
    failed = reason == SessionEnd::ConnectFailed;
    status = text;
  }
  void onFrame(const LiveFrame&) override {}

  bool ended = false;
  bool failed = false;
  std::string status;
};

// A loopback port that was free a moment ago.
uint16_t closedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  CEndListener listener;
  CLiveSession session(listener);
  if (!session.connect({"127.0.0.1", closedPort(), "user", "password"})) return 2;
  platform::processMessagesUntil([&] { return listener.ended; }, 10000);
  std::printf("%s\n", listener.status.c_str());
  return listener.failed && listener.status == "127.0.0.1 Connecting failure." ? 0 : 1;
}
