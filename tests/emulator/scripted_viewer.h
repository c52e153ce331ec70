#pragma once
// A scripted viewer for the emulator tests: blocking loopback connections that read and write
// whole messages, with time-outs so a silent emulator fails a test instead of hanging it.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dvr_emulator.h"
#include "protocol/message_header.h"

namespace emutest {

struct Message {
  MessageHeader header;
  std::vector<uint8_t> body;
  std::vector<uint8_t> raw;  // header and body as they came
};

class ScriptedConnection {
 public:
  explicit ScriptedConnection(uint16_t port);
  ~ScriptedConnection();
  ScriptedConnection(const ScriptedConnection&) = delete;
  ScriptedConnection& operator=(const ScriptedConnection&) = delete;

  bool connected() const { return fd_ >= 0; }
  bool sendRaw(const std::vector<uint8_t>& bytes);
  bool send(uint32_t command, const std::vector<uint8_t>& body = {});
  // Next message within timeoutMs; empty on time-out or when the emulator closed.
  std::optional<Message> receive(int timeoutMs = 3000);
  // Bytes available within timeoutMs, raw (for faults that break the framing).
  std::vector<uint8_t> receiveRaw(size_t count, int timeoutMs = 3000);
  // True when the emulator closes the connection within timeoutMs.
  bool closedByPeer(int timeoutMs = 3000);
  // Reads REQ_AUTHLOGIN, answers with the credentials, returns the RSP_AUTHRESULT status.
  std::optional<uint16_t> login(const std::string& user, const std::string& password);
  // Sends a request and returns the next message with the reply code.
  std::optional<Message> request(uint32_t command, const std::vector<uint8_t>& body,
                                 uint32_t replyCode);

 private:
  bool fill(size_t count, int timeoutMs);
  int fd_ = -1;
  std::vector<uint8_t> buffer_;
};

// An emulator running in this process on a free loopback port, quiet.
class RunningEmulator {
 public:
  explicit RunningEmulator(dvremu::EmulatorConfig config = testConfig());
  ~RunningEmulator();
  uint16_t port() const { return emulator_->port(); }
  dvremu::DvrEmulator& emulator() { return *emulator_; }
  std::string command(const std::string& line) { return emulator_->execute(line); }

  static dvremu::EmulatorConfig testConfig();
  // testConfig with more command-line options after it; a refused option fails the test.
  static dvremu::EmulatorConfig configWith(const std::vector<std::string>& options);

 private:
  std::unique_ptr<dvremu::DvrEmulator> emulator_;
};

// A control session taken through login and the preparation up to an open live stream.
struct PreparedSession {
  std::unique_ptr<ScriptedConnection> control;
  std::unique_ptr<ScriptedConnection> live;
  uint16_t livePort = 0;
};
PreparedSession prepareSession(uint16_t port, const std::string& user = "demo",
                               const std::string& password = "demo");

std::vector<uint8_t> liveFrameRequest(int channel);  // channel counted from 0
std::vector<uint8_t> maskBody(uint32_t mask, size_t size);
uint16_t statusOf(const Message& message);

}  // namespace emutest
