#pragma once
// A scripted DVR on loopback: the test accepts the client's connections and reads and writes the
// exact bytes of the conversation. All calls block with a time-out and run on the test's thread.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "protocol/message_header.h"

struct PeerMessage {
  std::array<uint8_t, MessageHeader::kSize> header{};
  std::vector<uint8_t> body;
  uint32_t command() const;
  uint32_t length() const;
  uint32_t subCode() const;
  // Header and body as they were on the wire.
  std::vector<uint8_t> wire() const;
};

// One accepted connection.
class CScriptedPeer {
 public:
  explicit CScriptedPeer(int fd);
  ~CScriptedPeer();
  CScriptedPeer(const CScriptedPeer&) = delete;
  CScriptedPeer& operator=(const CScriptedPeer&) = delete;

  bool send(std::span<const uint8_t> bytes);
  bool sendMessage(uint32_t command, std::span<const uint8_t> body = {});
  // Header with an arbitrary length field, without body.
  bool sendHeader(uint32_t command, uint32_t length);

  // Exactly n bytes, or empty on time-out or a closed connection.
  std::optional<std::vector<uint8_t>> readBytes(size_t n, int timeoutMs = 5000);
  std::optional<PeerMessage> readMessage(int timeoutMs = 5000);
  // True when nothing arrives within ms (the connection may stay open).
  bool quietFor(int ms);
  // True when the client closed the connection within timeoutMs (pending bytes are skipped).
  bool closedByClient(int timeoutMs = 5000);
  void close();

 private:
  int fd_;
};

// A listening socket on 127.0.0.1 with a port of the system's choice.
class CScriptedListener {
 public:
  CScriptedListener();
  ~CScriptedListener();
  CScriptedListener(const CScriptedListener&) = delete;
  CScriptedListener& operator=(const CScriptedListener&) = delete;

  uint16_t port() const { return port_; }
  // The next connection, or null after timeoutMs.
  std::unique_ptr<CScriptedPeer> accept(int timeoutMs = 5000);
  // Stops listening (later connects are refused).
  void close();

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// A port on 127.0.0.1 where nothing listens.
uint16_t unusedLoopbackPort();
