#include "scripted_viewer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include <gtest/gtest.h>

#include "protocol/byte_order.h"
#include "protocol/command_codes.h"

namespace emutest {

ScriptedConnection::ScriptedConnection(uint16_t port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

ScriptedConnection::~ScriptedConnection() {
  if (fd_ >= 0) ::close(fd_);
}

bool ScriptedConnection::sendRaw(const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool ScriptedConnection::send(uint32_t command, const std::vector<uint8_t>& body) {
  return sendRaw(buildMessage(command, body));
}

bool ScriptedConnection::fill(size_t count, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (buffer_.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    uint8_t chunk[65536];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    buffer_.insert(buffer_.end(), chunk, chunk + n);
  }
  return true;
}

std::optional<Message> ScriptedConnection::receive(int timeoutMs) {
  if (fd_ < 0 || !fill(MessageHeader::kSize, timeoutMs)) return std::nullopt;
  const auto header = MessageHeader::parse(
      std::span<const uint8_t, MessageHeader::kSize>(buffer_.data(), MessageHeader::kSize));
  if (!header) return std::nullopt;
  if (header->length > 16u * 1024 * 1024 || !fill(MessageHeader::kSize + header->length, timeoutMs))
    return std::nullopt;
  Message message;
  message.header = *header;
  message.raw.assign(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(
                                                            MessageHeader::kSize + header->length));
  message.body.assign(message.raw.begin() + MessageHeader::kSize, message.raw.end());
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(message.raw.size()));
  return message;
}

std::vector<uint8_t> ScriptedConnection::receiveRaw(size_t count, int timeoutMs) {
  fill(count, timeoutMs);
  const size_t take = std::min(count, buffer_.size());
  std::vector<uint8_t> out(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(take));
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(take));
  return out;
}

bool ScriptedConnection::closedByPeer(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    uint8_t chunk[65536];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) return true;
  }
  return false;
}

std::optional<uint16_t> ScriptedConnection::login(const std::string& user,
                                                  const std::string& password) {
  const auto request = receive();
  if (!request || request->header.command != REQ_AUTHLOGIN ||
      request->raw.size() != MessageHeader::kSize) {
    return std::nullopt;
  }
  const auto body = buildLoginBody(user, password);
  send(RSP_AUTHLOGIN, std::vector<uint8_t>(body.begin(), body.end()));
  const auto result = receive();
  if (!result || result->header.command != RSP_AUTHRESULT || result->body.size() != 3)
    return std::nullopt;
  return readBe16(result->body.data());
}

std::optional<Message> ScriptedConnection::request(uint32_t command,
                                                   const std::vector<uint8_t>& body,
                                                   uint32_t replyCode) {
  if (!send(command, body)) return std::nullopt;
  for (int i = 0; i < 20; ++i) {
    auto message = receive();
    if (!message) return std::nullopt;
    if (message->header.command == replyCode) return message;
  }
  return std::nullopt;
}

RunningEmulator::RunningEmulator(dvremu::EmulatorConfig config)
    : emulator_(std::make_unique<dvremu::DvrEmulator>(std::move(config))) {
  emulator_->core().log().setQuiet(true);
  std::string error;
  if (!emulator_->start(&error)) throw std::runtime_error(error);
}

RunningEmulator::~RunningEmulator() {
  emulator_->stop();
}

namespace {
const std::vector<std::string> kTestOptions{"--listen",   "127.0.0.1:0", "--user",           "demo",
                                            "--password", "demo",        "--alive-interval", "0",
                                            "--fps",      "25"};
}  // namespace

dvremu::EmulatorConfig RunningEmulator::testConfig() {
  return dvremu::parseCommandLine(kTestOptions).config;
}

dvremu::EmulatorConfig RunningEmulator::configWith(const std::vector<std::string>& options) {
  std::vector<std::string> all = kTestOptions;
  all.insert(all.end(), options.begin(), options.end());
  const auto parsed = dvremu::parseCommandLine(all);
  EXPECT_TRUE(parsed.error.empty()) << parsed.error;
  return parsed.config;
}

PreparedSession prepareSession(uint16_t port, const std::string& user,
                               const std::string& password) {
  PreparedSession session;
  session.control = std::make_unique<ScriptedConnection>(port);
  if (session.control->login(user, password) != 1) return session;
  const auto open = session.control->request(REQ_LIVEOPEN, {}, RSP_LIVEOPEN);
  if (!open || open->body.size() < 4) return session;
  session.livePort = readBe16(open->body.data() + 2);
  session.live = std::make_unique<ScriptedConnection>(session.livePort);
  if (session.live->login(user, password) != 1) session.live.reset();
  return session;
}

std::vector<uint8_t> liveFrameRequest(int channel) {
  return {static_cast<uint8_t>(channel + 1), 0x01, 0x00, 0x01};
}

std::vector<uint8_t> maskBody(uint32_t mask, size_t size) {
  std::vector<uint8_t> body(size, 0);
  writeBe32(body.data(), mask);
  return body;
}

uint16_t statusOf(const Message& message) {
  return message.body.size() >= 2 ? readBe16(message.body.data()) : 0xFFFF;
}

}  // namespace emutest
