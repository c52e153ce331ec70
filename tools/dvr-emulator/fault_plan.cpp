#include "fault_plan.h"

#include "protocol/command_codes.h"

namespace dvremu {

const char* connectionKindName(ConnectionKind kind) {
  switch (kind) {
    case ConnectionKind::Pending:
      return "pending";
    case ConnectionKind::Control:
      return "control";
    case ConnectionKind::Notice:
      return "notice";
    case ConnectionKind::Live:
      return "live";
    case ConnectionKind::Audio:
      return "audio";
  }
  return "?";
}

std::optional<ConnectionKind> parseConnectionKind(const std::string& name) {
  if (name == "control") return ConnectionKind::Control;
  if (name == "notice") return ConnectionKind::Notice;
  if (name == "live") return ConnectionKind::Live;
  if (name == "audio") return ConnectionKind::Audio;
  if (name == "any") return ConnectionKind::Pending;
  return std::nullopt;
}

namespace {
struct FaultName {
  FaultType type;
  const char* name;
};
constexpr FaultName kFaultNames[] = {
    {FaultType::CloseAfter, "close-after"},
    {FaultType::CutBody, "cut-body"},
    {FaultType::BadMagic, "bad-magic"},
    {FaultType::HugeLength, "huge-length"},
    {FaultType::Oversize, "oversize"},
    {FaultType::Stall, "stall"},
    {FaultType::Drop, "drop"},
    {FaultType::NoMarker, "no-marker"},
    {FaultType::Channel16, "channel16"},
};

bool targetTakes(FaultTarget target, MessageRole role) {
  switch (target) {
    case FaultTarget::Traffic:
      return role == MessageRole::Frame || role == MessageRole::Other;
    case FaultTarget::LoginRequest:
      return role == MessageRole::LoginRequest;
    case FaultTarget::LoginResult:
      return role == MessageRole::LoginResult;
  }
  return false;
}

bool kindTakes(ConnectionKind armed, ConnectionKind kind, MessageRole role) {
  if (armed == kind) return true;
  return kind == ConnectionKind::Pending && role == MessageRole::LoginRequest &&
         (armed == ConnectionKind::Control || armed == ConnectionKind::Notice);
}
}  // namespace

bool isFrameFault(FaultType type) {
  return type == FaultType::NoMarker || type == FaultType::Channel16;
}

const char* faultTargetName(FaultTarget target) {
  switch (target) {
    case FaultTarget::Traffic:
      return "";
    case FaultTarget::LoginRequest:
      return "login";
    case FaultTarget::LoginResult:
      return "login-result";
  }
  return "?";
}

std::optional<FaultTarget> parseFaultTarget(const std::string& name) {
  if (name == "login") return FaultTarget::LoginRequest;
  if (name == "login-result") return FaultTarget::LoginResult;
  return std::nullopt;
}

const char* faultTypeName(FaultType type) {
  for (const auto& entry : kFaultNames) {
    if (entry.type == type) return entry.name;
  }
  return "?";
}

std::optional<FaultType> parseFaultType(const std::string& name) {
  for (const auto& entry : kFaultNames) {
    if (name == entry.name) return entry.type;
  }
  return std::nullopt;
}

void FaultPlan::arm(const ArmedFault& fault) {
  std::lock_guard lock(mutex_);
  faults_.push_back(fault);
}

void FaultPlan::armRefusal(const ArmedRefusal& refusal) {
  std::lock_guard lock(mutex_);
  refusals_.push_back(refusal);
}

void FaultPlan::armFailure(const ArmedFailure& failure) {
  std::lock_guard lock(mutex_);
  failures_.push_back(failure);
}

void FaultPlan::clear() {
  std::lock_guard lock(mutex_);
  faults_.clear();
  refusals_.clear();
  failures_.clear();
}

std::optional<ArmedFault> FaultPlan::take(ConnectionKind kind, int session, MessageRole role) {
  std::lock_guard lock(mutex_);
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (!kindTakes(it->kind, kind, role) || !targetTakes(it->target, role)) continue;
    if (it->session != 0 && it->session != session) continue;
    if (isFrameFault(it->type) && role != MessageRole::Frame) continue;
    ArmedFault fault = *it;
    faults_.erase(it);
    return fault;
  }
  return std::nullopt;
}

std::optional<uint16_t> FaultPlan::takeRefusal(ConnectionKind kind) {
  std::lock_guard lock(mutex_);
  for (auto it = refusals_.begin(); it != refusals_.end(); ++it) {
    if (it->kind != ConnectionKind::Pending && it->kind != kind) continue;
    const uint16_t status = it->status;
    refusals_.erase(it);
    return status;
  }
  return std::nullopt;
}

std::optional<uint16_t> FaultPlan::takeFailure(uint32_t command) {
  std::lock_guard lock(mutex_);
  for (auto it = failures_.begin(); it != failures_.end(); ++it) {
    if (it->command != command) continue;
    const uint16_t status = it->status;
    failures_.erase(it);
    return status;
  }
  return std::nullopt;
}

std::string FaultPlan::describe() const {
  std::lock_guard lock(mutex_);
  std::string text;
  for (const auto& fault : faults_) {
    text += std::string("  fault ") + connectionKindName(fault.kind) + " " +
            faultTypeName(fault.type) + std::string(" ") + std::to_string(fault.argument);
    if (fault.target != FaultTarget::Traffic)
      text += std::string(" ") + faultTargetName(fault.target);
    if (fault.session) text += " session " + std::to_string(fault.session);
    text += "\n";
  }
  for (const auto& refusal : refusals_) {
    text += std::string("  refuse-next ") + std::to_string(refusal.status) + " " +
            (refusal.kind == ConnectionKind::Pending ? "any" : connectionKindName(refusal.kind)) +
            "\n";
  }
  for (const auto& failure : failures_) {
    text += "  fail " + std::string(commandName(failure.command)) + " " +
            std::to_string(failure.status) + "\n";
  }
  return text.empty() ? "  nothing armed\n" : text;
}

}  // namespace dvremu
