#pragma once
// One accepted TCP connection: framed sending with the armed faults applied, and framed
// reading. The connection's own thread reads and sends; other threads may send (notices,
// alive checks) and may shut it down; sends are serialised by a mutex. Shutting down never
// waits for that mutex, so it also ends a send that blocks on a viewer that stopped reading.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "emulator_stats.h"
#include "event_log.h"
#include "fault_plan.h"
#include "protocol/message_header.h"
#include "socket_io.h"

namespace dvremu {

// Largest body the emulator accepts from a viewer; anything longer ends the connection.
inline constexpr uint32_t kMaxIncomingBody = 64 * 1024;
// Body sizes that the viewer's fixed buffers hold, per connection kind.
inline constexpr uint32_t kViewerLiveBuffer = 811008;
inline constexpr uint32_t kViewerAudioBody = 5120;
inline constexpr uint32_t kOversizeOtherBody = 1024 * 1024;
// Most bytes a stall holds back on one connection; later messages are discarded.
inline constexpr size_t kMaxHeldBytes = 64 * 1024 * 1024;

struct ReceivedMessage {
  MessageHeader header;
  std::vector<uint8_t> body;
};

// Collects bytes and cuts them into messages the way the viewer does: 17-byte header, a
// wrong magic drops those 17 bytes.
class MessageReader {
 public:
  void append(const uint8_t* data, size_t size);
  // Next whole message; sets *overlong when a header announces more than kMaxIncomingBody.
  std::optional<ReceivedMessage> next(bool* overlong);
  size_t buffered() const { return buffer_.size() - start_; }

 private:
  std::vector<uint8_t> buffer_;
  size_t start_ = 0;
};

struct SharedServices {
  EventLog& log;
  EmulatorStats& stats;
  FaultPlan& faults;
  int wakeFd;
};

// Where a frame sits inside a message, so frame faults can edit it.
struct FrameEdit {
  uint8_t* frameHeader = nullptr;  // the 16 mutable header bytes inside one of the parts
  size_t payloadPart = 0;          // index of the part holding the frame payload
};

class WireConnection {
 public:
  enum class ReadStatus { Message, Timeout, Closed };

  WireConnection(UniqueFd fd, int id, SharedServices services);
  WireConnection(const WireConnection&) = delete;
  WireConnection& operator=(const WireConnection&) = delete;

  int id() const { return id_; }
  const std::string& peer() const { return peer_; }
  ConnectionKind kind() const;
  void setKind(ConnectionKind kind, int session);
  int session() const;

  // One message: header, then the body made of parts. Armed faults of this kind apply (to
  // REQ_AUTHLOGIN and RSP_AUTHRESULT only those that name them). False once the connection is
  // closed; true for a message that a stall holds back, a drop discards or silence swallows.
  bool send(uint32_t command, std::span<const uint8_t> body);
  bool sendWithSubCode(uint32_t command, uint32_t subCode, std::span<const uint8_t> body);
  bool sendParts(uint32_t command, uint32_t subCode, std::vector<std::span<const uint8_t>> parts,
                 const FrameEdit* frame);
  // REQ_AUTHLOGIN, asking the peer to log in.
  bool sendLoginRequest();

  // Waits up to timeoutMs (negative: no limit) for one whole message. Meanwhile it sends what
  // an ended stall held back, so held messages go out even when nothing else is sent.
  ReadStatus read(int timeoutMs, ReceivedMessage* out);

  // From any thread: nothing more is sent on this connection, which stays open (a DVR that went
  // silent). Incoming messages are still read.
  void goSilent();
  // True while a stall holds messages back or the connection is silent: what is sent now does
  // not reach the peer yet, so the peer can't be expected to answer it.
  bool holdingOutput() const;
  // True while a stall (not silence) holds messages back: they will reach the peer later.
  bool stallingOutput() const;

  // From any thread: ends the connection; its thread sees the end on its next read.
  void shutdown();
  bool isShutdown() const;
  int fd() const { return fd_.get(); }

 private:
  using Clock = std::chrono::steady_clock;
  struct HeldMessage {
    std::vector<uint8_t> bytes;
    bool closeAfter = false;  // a close-after or cut-body fault ends the connection after it
  };

  bool transmit(uint32_t command, uint32_t subCode, std::vector<std::span<const uint8_t>> parts,
                const FrameEdit* frame);
  // With sendMutex_ held: sends the held messages once their stall is over. False when the
  // connection ended on the way.
  bool releaseHeldLocked(Clock::time_point now);
  void hold(const std::vector<iovec>& vectors, bool closeAfter);
  bool sendVectors(const std::vector<iovec>& vectors);
  void trace(ConnectionKind kind, const char* direction, uint32_t command, uint32_t subCode,
             uint32_t length) const;

  UniqueFd fd_;  // closed by the destructor, after the owning thread has ended
  const int id_;
  const std::string peer_;
  SharedServices services_;

  mutable std::mutex stateMutex_;  // guards kind_ and session_; never held across a send
  ConnectionKind kind_ = ConnectionKind::Pending;
  int session_ = 0;

  std::mutex sendMutex_;          // serialises sends; guards the fault state below
  int countdown_ = -1;            // messages left before a close-after fault closes; -1: none
  int dropLeft_ = 0;              // messages a drop fault still discards
  std::deque<HeldMessage> held_;  // what a stall holds back, in order
  size_t heldBytes_ = 0;
  bool closeHeld_ = false;  // a held message ends the connection: nothing may follow it

  // Written under sendMutex_, read without it by the reading thread and the control session.
  std::atomic<Clock::rep> stallEnd_{0};  // while non-zero, sends are held until this time
  std::atomic<bool> silent_{false};      // a stall for good: nothing more is sent
  std::atomic<bool> shut_{false};        // set once, by whichever thread ends the connection

  MessageReader reader_;  // owning thread only
};

}  // namespace dvremu
