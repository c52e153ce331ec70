#pragma once
// Faults armed from the control interface, each taken by the first connection of its kind that
// gets the chance to commit it.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace dvremu {

enum class ConnectionKind { Pending, Control, Notice, Live, Audio };
const char* connectionKindName(ConnectionKind kind);
std::optional<ConnectionKind> parseConnectionKind(const std::string& name);

enum class FaultType {
  CloseAfter,  // close the connection after N more messages (N = 0: at once)
  CutBody,     // send the header and half the body of the next message, then close
  BadMagic,    // the next header starts with "ZEMX"
  HugeLength,  // the next header claims 0xFFFFFFFF body bytes
  Oversize,    // the next body is padded to one byte more than the viewer's buffer holds
  Stall,       // hold this message and what follows for N seconds, then send them in order;
               // N = 0: send nothing more at all, keep the connection open
  Drop,        // silently discard this message and the N - 1 after it
  NoMarker,    // the next frame carries no 0x01 byte at all
  Channel16,   // the next frame names channel 16
};
const char* faultTypeName(FaultType type);
std::optional<FaultType> parseFaultType(const std::string& name);
bool isFrameFault(FaultType type);

// What a message is to the fault plan.
enum class MessageRole {
  LoginRequest,  // the emulator's REQ_AUTHLOGIN
  LoginResult,   // its RSP_AUTHRESULT verdict
  Frame,         // a live frame
  Other,
};

// The messages a fault waits for: the session's traffic, or one message of the login exchange
// when it is asked for by name.
enum class FaultTarget { Traffic, LoginRequest, LoginResult };
const char* faultTargetName(FaultTarget target);  // "", "login", "login-result"
std::optional<FaultTarget> parseFaultTarget(const std::string& name);

struct ArmedFault {
  FaultType type = FaultType::CloseAfter;
  ConnectionKind kind = ConnectionKind::Control;
  uint32_t argument = 0;
  int session = 0;  // 0: any session
  FaultTarget target = FaultTarget::Traffic;
};

// A login refusal armed for the next login of a kind (Pending: any kind).
struct ArmedRefusal {
  ConnectionKind kind = ConnectionKind::Pending;
  uint16_t status = 2;
};

// A failure status for the next reply with a given code.
struct ArmedFailure {
  uint32_t command = 0;
  uint16_t status = 0;
};

class FaultPlan {
 public:
  void arm(const ArmedFault& fault);
  void armRefusal(const ArmedRefusal& refusal);
  void armFailure(const ArmedFailure& failure);
  void clear();

  // The first armed fault that this message of this connection commits, removed from the plan.
  // Frame faults wait for a frame; the login exchange takes only faults that name it. On the
  // control port (kind Pending) REQ_AUTHLOGIN goes out before the account tells a control from
  // a notice connection, so it takes a login fault of either kind.
  std::optional<ArmedFault> take(ConnectionKind kind, int session, MessageRole role);
  std::optional<uint16_t> takeRefusal(ConnectionKind kind);
  std::optional<uint16_t> takeFailure(uint32_t command);
  std::string describe() const;

 private:
  mutable std::mutex mutex_;  // guards the three lists; taken by every connection thread
  std::vector<ArmedFault> faults_;
  std::vector<ArmedRefusal> refusals_;
  std::vector<ArmedFailure> failures_;
};

}  // namespace dvremu
