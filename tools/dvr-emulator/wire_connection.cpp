#include "wire_connection.h"

#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "protocol/byte_order.h"
#include "protocol/command_codes.h"

namespace dvremu {

void MessageReader::append(const uint8_t* data, size_t size) {
  if (start_ > 0 && start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  } else if (start_ > 256 * 1024) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
  buffer_.insert(buffer_.end(), data, data + size);
}

std::optional<ReceivedMessage> MessageReader::next(bool* overlong) {
  *overlong = false;
  while (buffered() >= MessageHeader::kSize) {
    const uint8_t* bytes = buffer_.data() + start_;
    const auto header = MessageHeader::parse(
        std::span<const uint8_t, MessageHeader::kSize>(bytes, MessageHeader::kSize));
    if (!header) {  // the viewer's rule: drop these 17 bytes, no search for the magic
      start_ += MessageHeader::kSize;
      continue;
    }
    if (header->length > kMaxIncomingBody) {
      *overlong = true;
      return std::nullopt;
    }
    if (buffered() < MessageHeader::kSize + header->length) return std::nullopt;
    ReceivedMessage message;
    message.header = *header;
    message.body.assign(bytes + MessageHeader::kSize,
                        bytes + MessageHeader::kSize + header->length);
    start_ += MessageHeader::kSize + header->length;
    return message;
  }
  return std::nullopt;
}

WireConnection::WireConnection(UniqueFd fd, int id, SharedServices services)
    : fd_(std::move(fd)), id_(id), peer_(peerName(fd_.get())), services_(services) {}

ConnectionKind WireConnection::kind() const {
  std::lock_guard lock(stateMutex_);
  return kind_;
}

int WireConnection::session() const {
  std::lock_guard lock(stateMutex_);
  return session_;
}

void WireConnection::setKind(ConnectionKind kind, int session) {
  std::lock_guard lock(stateMutex_);
  kind_ = kind;
  session_ = session;
}

void WireConnection::shutdown() {
  // Without the send mutex: a send blocked on a full socket fails once the socket is shut.
  if (!shut_.exchange(true)) ::shutdown(fd_.get(), SHUT_RDWR);
}

bool WireConnection::isShutdown() const {
  return shut_.load();
}

void WireConnection::trace(ConnectionKind kind, const char* direction, uint32_t command,
                           uint32_t subCode, uint32_t length) const {
  if (!services_.log.verbose()) return;
  const auto name = commandName(command);
  char line[200];
  std::snprintf(line, sizeof line, "#%d %s %s %s 0x%08x length %u subCode 0x%08x", id_,
                connectionKindName(kind), direction, name.empty() ? "?" : std::string(name).c_str(),
                command, length, subCode);
  services_.log.trace(line);
}

bool WireConnection::sendLoginRequest() {
  return send(REQ_AUTHLOGIN, {});
}

bool WireConnection::send(uint32_t command, std::span<const uint8_t> body) {
  return sendWithSubCode(command, command, body);
}

bool WireConnection::sendWithSubCode(uint32_t command, uint32_t subCode,
                                     std::span<const uint8_t> body) {
  std::vector<std::span<const uint8_t>> parts;
  if (!body.empty()) parts.push_back(body);
  return transmit(command, subCode, std::move(parts), nullptr);
}

bool WireConnection::sendParts(uint32_t command, uint32_t subCode,
                               std::vector<std::span<const uint8_t>> parts,
                               const FrameEdit* frame) {
  return transmit(command, subCode, std::move(parts), frame);
}

void WireConnection::goSilent() {
  silent_.store(true);
}

bool WireConnection::holdingOutput() const {
  return silent_.load() || stallEnd_.load() != 0;
}

bool WireConnection::stallingOutput() const {
  return !silent_.load() && stallEnd_.load() != 0;
}

namespace {
MessageRole roleOf(uint32_t command, const FrameEdit* frame) {
  if (command == REQ_AUTHLOGIN) return MessageRole::LoginRequest;
  if (command == RSP_AUTHRESULT) return MessageRole::LoginResult;
  return frame != nullptr ? MessageRole::Frame : MessageRole::Other;
}
}  // namespace

bool WireConnection::transmit(uint32_t command, uint32_t subCode,
                              std::vector<std::span<const uint8_t>> parts, const FrameEdit* frame) {
  std::lock_guard lock(sendMutex_);
  if (shut_) return false;
  const auto now = Clock::now();
  if (!releaseHeldLocked(now)) return false;
  if (silent_) return true;      // swallowed: the peer sees a quiet, open connection
  if (closeHeld_) return false;  // the connection ends after what is held
  if (dropLeft_ > 0) {
    --dropLeft_;
    return true;
  }
  ConnectionKind kind = ConnectionKind::Pending;
  int session = 0;
  {
    std::lock_guard state(stateMutex_);
    kind = kind_;
    session = session_;
  }

  size_t bodySize = 0;
  for (const auto& part : parts) bodySize += part.size();
  const std::optional<ArmedFault> fault =
      services_.faults.take(kind, session, roleOf(command, frame));

  uint32_t announced = static_cast<uint32_t>(bodySize);
  std::vector<uint8_t> scratch;  // edited payload or padding, alive until the send
  bool cutAfterHalf = false;
  std::array<uint8_t, MessageHeader::kSize> header = MessageHeader::build(command, announced);
  if (fault) {
    services_.log.info(std::string("#") + std::to_string(id_) + " " + connectionKindName(kind) +
                       ": fault " + faultTypeName(fault->type) + " on " +
                       std::string(commandName(command)));
    switch (fault->type) {
      case FaultType::CloseAfter:
        if (fault->argument == 0) {
          shutdown();
          return false;
        }
        countdown_ = static_cast<int>(fault->argument);
        break;
      case FaultType::CutBody:
        cutAfterHalf = true;
        break;
      case FaultType::BadMagic:
        break;
      case FaultType::HugeLength:
        announced = 0xFFFFFFFFu;
        break;
      case FaultType::Oversize: {
        const uint32_t limit = kind == ConnectionKind::Live    ? kViewerLiveBuffer
                               : kind == ConnectionKind::Audio ? kViewerAudioBody
                                                               : kOversizeOtherBody;
        if (bodySize <= limit) {
          scratch.assign(limit + 1 - bodySize, 0);
          parts.push_back(scratch);
          announced = limit + 1;
        }
        break;
      }
      case FaultType::Stall:
        if (fault->argument == 0) {
          silent_ = true;
          held_.clear();
          heldBytes_ = 0;
          stallEnd_ = 0;
          return true;
        }
        // This message is the first one held; a stall during a stall lengthens it.
        stallEnd_ =
            std::max(stallEnd_.load(),
                     (now + std::chrono::seconds(fault->argument)).time_since_epoch().count());
        break;
      case FaultType::Drop:
        dropLeft_ = static_cast<int>(std::clamp<uint32_t>(fault->argument, 1, INT_MAX) - 1);
        return true;
      case FaultType::NoMarker:
        if (frame != nullptr && frame->frameHeader != nullptr &&
            frame->payloadPart < parts.size()) {
          for (int i = 0; i < 16; ++i) {
            if (frame->frameHeader[i] == 0x01) frame->frameHeader[i] = 0x00;
          }
          const auto payload = parts[frame->payloadPart];
          scratch.assign(payload.begin(), payload.end());
          std::replace(scratch.begin(), scratch.end(), uint8_t{0x01}, uint8_t{0x02});
          parts[frame->payloadPart] = scratch;
        }
        break;
      case FaultType::Channel16:
        if (frame != nullptr && frame->frameHeader != nullptr) frame->frameHeader[1] = 16;
        break;
    }
    header = MessageHeader::build(command, announced);
    if (fault->type == FaultType::BadMagic) std::memcpy(header.data(), "ZEMX", 4);
  }
  writeBe32(header.data() + 13, subCode);

  std::vector<iovec> vectors;
  vectors.push_back({header.data(), header.size()});
  size_t budget = cutAfterHalf ? bodySize / 2 : SIZE_MAX;
  for (const auto& part : parts) {
    if (part.empty() || budget == 0) continue;
    const size_t take = std::min(part.size(), budget);
    vectors.push_back({const_cast<uint8_t*>(part.data()), take});
    budget -= take;
  }
  trace(kind, stallEnd_ != 0 ? "holds" : "sends", command, subCode, announced);
  bool closeAfter = cutAfterHalf;
  if (countdown_ > 0 && --countdown_ == 0) closeAfter = true;
  if (stallEnd_ != 0) {
    hold(vectors, closeAfter);
    return true;
  }
  if (!sendVectors(vectors) || closeAfter) {
    shutdown();
    return false;
  }
  return true;
}

bool WireConnection::sendVectors(const std::vector<iovec>& vectors) {
  if (!sendAll(fd_.get(), vectors.data(), vectors.size())) return false;
  services_.stats.messagesSent.fetch_add(1, std::memory_order_relaxed);
  size_t total = 0;
  for (const auto& v : vectors) total += v.iov_len;
  services_.stats.bytesSent.fetch_add(total, std::memory_order_relaxed);
  return true;
}

void WireConnection::hold(const std::vector<iovec>& vectors, bool closeAfter) {
  HeldMessage message;
  message.closeAfter = closeAfter;
  for (const auto& v : vectors) {
    const auto* bytes = static_cast<const uint8_t*>(v.iov_base);
    message.bytes.insert(message.bytes.end(), bytes, bytes + v.iov_len);
  }
  if (heldBytes_ + message.bytes.size() > kMaxHeldBytes) {
    services_.log.info(std::string("#") + std::to_string(id_) +
                       ": too much held back by a stall; discarding a message");
    return;
  }
  heldBytes_ += message.bytes.size();
  closeHeld_ = closeAfter;
  held_.push_back(std::move(message));
}

bool WireConnection::releaseHeldLocked(Clock::time_point now) {
  const auto end = stallEnd_.load();
  if (end == 0 || now.time_since_epoch().count() < end) return true;
  stallEnd_ = 0;
  while (!held_.empty()) {
    HeldMessage message = std::move(held_.front());
    held_.pop_front();
    heldBytes_ -= message.bytes.size();
    const iovec part{message.bytes.data(), message.bytes.size()};
    if (silent_) continue;
    if (!sendVectors({part}) || message.closeAfter) {
      held_.clear();
      heldBytes_ = 0;
      shutdown();
      return false;
    }
  }
  return true;
}

WireConnection::ReadStatus WireConnection::read(int timeoutMs, ReceivedMessage* out) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  while (true) {
    std::optional<Clock::time_point> releaseAt;
    if (const auto end = stallEnd_.load(); end != 0) {
      releaseAt = Clock::time_point(Clock::duration(end));
      if (Clock::now() >= *releaseAt) {
        std::lock_guard lock(sendMutex_);
        releaseHeldLocked(Clock::now());
        releaseAt.reset();
      }
    }
    bool overlong = false;
    if (auto message = reader_.next(&overlong)) {
      services_.stats.messagesReceived.fetch_add(1, std::memory_order_relaxed);
      trace(kind(), "receives", message->header.command, message->header.subCode,
            message->header.length);
      if (services_.log.hasWireSink()) {
        services_.log.recordWire(
            {id_, connectionKindName(kind()), message->header.command, message->body});
      }
      *out = std::move(*message);
      return ReadStatus::Message;
    }
    if (overlong) {
      services_.log.info(std::string("#") + std::to_string(id_) +
                         ": a header announces an overlong body; closing");
      shutdown();
      return ReadStatus::Closed;
    }
    int wait = -1;
    if (timeoutMs >= 0) {
      const auto left = deadline - std::chrono::steady_clock::now();
      wait = left <= std::chrono::steady_clock::duration::zero()
                 ? 0
                 : static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
    }
    if (releaseAt) {
      const int untilRelease = millisecondsUntil(*releaseAt);
      wait = wait < 0 ? untilRelease : std::min(wait, untilRelease);
    }
    const int ready = waitReadable(fd_.get(), services_.wakeFd, wait);
    if (ready < 0) return ReadStatus::Closed;
    if (ready == 0) {
      if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline)
        return ReadStatus::Timeout;
      continue;
    }
    uint8_t chunk[16384];
    const ssize_t got = ::recv(fd_.get(), chunk, sizeof chunk, MSG_DONTWAIT);
    if (got > 0) {
      reader_.append(chunk, static_cast<size_t>(got));
      continue;
    }
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    return ReadStatus::Closed;
  }
}

}  // namespace dvremu
