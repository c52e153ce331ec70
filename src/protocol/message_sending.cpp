#include "protocol/message_sending.h"

#include "protocol/command_codes.h"
#include "protocol/message_header.h"
#include "protocol/socket_channel.h"

bool sendWholeMessage(CSocketChannel& channel, uint32_t command, std::span<const uint8_t> body) {
  const std::vector<uint8_t> message = buildMessage(command, body);
  return channel.send(message.data(), message.size());
}

bool sendLoginInTwoParts(CSocketChannel& channel, std::string_view userId,
                         std::string_view password) {
  const auto header = MessageHeader::build(RSP_AUTHLOGIN, kLoginBodySize);
  const auto body = buildLoginBody(userId, password);
  if (!channel.send(header.data(), header.size())) return false;
  return channel.send(body.data(), body.size());
}

WindowId liveWindowOr(WindowId window) {
  return platform::isWindow(window) ? window : platform::mainWindow();
}

WindowId mainWindowOr(WindowId window) {
  const WindowId main = platform::mainWindow();
  return platform::isWindow(main) ? main : window;
}
