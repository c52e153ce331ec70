#include "bridge/rtsp_request_guard.h"

#include <algorithm>
#include <string_view>
#include <utility>

namespace {

using Phase = RtspScanState::Phase;
using Field = RtspScanState::Field;

char lower(uint8_t c) {
  return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
}

bool isDigit(uint8_t c) {
  return c >= '0' && c <= '9';
}

bool isBlank(uint8_t c) {
  return c == ' ' || c == '\t';
}

// Everything of the head being read goes; the CSeq echo stays until the next head starts.
void startHead(RtspScanState& s) {
  s.phase = Phase::Head;
  s.headBytes = 0;
  s.headerLines = 0;
  s.lineBytes = 0;
  s.afterCr = false;
  s.lastEndBareLf = false;
  s.nameLength = 0;
  s.inValue = false;
  s.field = Field::Other;
  s.tokenLength = 0;
  s.haveContentLength = false;
  s.contentLength = 0;
  s.cseqLength = 0;
  s.requestLine = true;
  s.httpVersion = false;
  s.bodyTooLarge = false;
}

void startLine(RtspScanState& s) {
  s.lineBytes = 0;
  s.nameLength = 0;
  s.inValue = false;
  s.field = Field::Other;
  s.valueStarted = false;
  s.valueEnded = false;
  s.valueNumber = 0;
  s.valueTooLarge = false;
  s.cseqPending = 0;
  s.tokenLength = 0;
}

bool tokenIsHttpVersion(const RtspScanState& s) {
  constexpr std::string_view kHttp = "http/";
  if (s.tokenLength < kHttp.size()) return false;
  for (size_t i = 0; i < kHttp.size(); ++i)
    if (s.token[i] != kHttp[i]) return false;
  return true;
}

void classifyName(RtspScanState& s) {
  const std::string_view name(s.name.data(), s.nameLength);
  if (s.nameLength > s.name.size()) {
    s.field = Field::Other;
  } else if (name == "content-length") {
    s.field = Field::ContentLength;
  } else if (name == "cseq") {
    s.field = Field::CSeq;
  } else {
    s.field = Field::Other;
  }
}

// One byte of a header's value; a refusal or None.
RtspRefusal valueByte(RtspScanState& s, uint8_t c, const RtspRequestLimits& limits) {
  if (s.field == Field::Other) return RtspRefusal::None;
  if (isBlank(c)) {
    if (s.valueStarted) s.valueEnded = true;
    return RtspRefusal::None;
  }
  const bool digit = isDigit(c) && !s.valueEnded;
  if (s.field == Field::ContentLength) {
    // Digits only: anything the server might read differently is refused.
    if (!digit) return RtspRefusal::Malformed;
    s.valueStarted = true;
    s.valueNumber = s.valueNumber * 10 + static_cast<uint64_t>(c - '0');
    if (s.valueNumber > limits.maxBodyBytes) {
      s.valueTooLarge = true;
      s.valueNumber = limits.maxBodyBytes + 1;  // stays bounded however many digits come
    }
    return RtspRefusal::None;
  }
  // CSeq: echoed only when it is a plain number of at most ten digits.
  if (!digit || s.cseqPending >= s.cseqDigits.size()) {
    s.valueTooLarge = true;
  } else {
    s.cseqDigits[s.cseqPending++] = static_cast<char>(c);
  }
  s.valueStarted = true;
  return RtspRefusal::None;
}

std::string withCSeqAndClose(std::string reply, const RtspScanState& state) {
  if (state.cseqLength > 0)
    reply += "CSeq: " + std::string(state.cseq.data(), state.cseqLength) + "\r\n";
  reply += "Connection: close\r\n\r\n";
  return reply;
}

}  // namespace

RtspScanResult scanRtspInput(RtspScanState& s, const uint8_t* data, size_t length,
                             const RtspRequestLimits& limits) {
  RtspScanResult result;
  if (s.phase == Phase::Refused) {
    result.refusal = s.refusal;
    return result;
  }
  const auto refuse = [&](RtspRefusal why, size_t at) {
    s.phase = Phase::Refused;
    s.refusal = why;
    result.passed = at;
    result.refusal = why;
    return result;
  };
  size_t i = 0;
  while (i < length) {
    switch (s.phase) {
      case Phase::Idle: {
        const uint8_t c = data[i];
        if (c == '\r' || c == '\n') {
          ++i;  // the server skips line ends between messages
        } else if (c == '$') {
          s.phase = Phase::FrameHeader;
          s.frameHeader = 0;
          s.frameLength = 0;
          ++i;
        } else {
          startHead(s);
          startLine(s);
        }
        break;
      }
      case Phase::FrameHeader: {
        const uint8_t c = data[i++];
        if (s.frameHeader == 1) s.frameLength = static_cast<uint16_t>(c << 8);
        if (s.frameHeader == 2) s.frameLength = static_cast<uint16_t>(s.frameLength | c);
        if (++s.frameHeader == 3) {
          s.remaining = s.frameLength;
          s.phase = s.remaining > 0 ? Phase::FrameBody : Phase::Idle;
        }
        break;
      }
      case Phase::Body:
      case Phase::FrameBody: {
        const size_t take = std::min(s.remaining, length - i);
        i += take;
        s.remaining -= take;
        if (s.remaining == 0) s.phase = Phase::Idle;
        break;
      }
      case Phase::Head: {
        const uint8_t c = data[i];
        if (s.headBytes >= limits.maxHeadBytes) return refuse(RtspRefusal::HeadTooLarge, i);
        ++s.headBytes;
        bool lineEnd = false;
        bool bareLf = false;
        if (s.afterCr) {
          // A CR ends a line only with its LF: the server reads a lone CR its own way.
          if (c != '\n') return refuse(RtspRefusal::Malformed, i);
          s.afterCr = false;
          lineEnd = true;
        } else if (c == '\r') {
          s.afterCr = true;
        } else if (c == '\n') {
          lineEnd = true;
          bareLf = true;
        } else if ((c < 0x20 && c != '\t') || c == 0x7f) {
          return refuse(RtspRefusal::Malformed, i);
        } else if (s.lineBytes == 0 && !s.requestLine && isBlank(c)) {
          return refuse(RtspRefusal::Malformed, i);  // a folded line
        } else if (s.lineBytes == 0 && !s.requestLine && s.headerLines >= limits.maxHeaderLines) {
          return refuse(RtspRefusal::HeadTooLarge, i);
        } else {
          ++s.lineBytes;
          if (s.requestLine) {
            if (c == ' ') {
              if (tokenIsHttpVersion(s)) s.httpVersion = true;
              s.tokenLength = 0;
            } else {
              if (s.tokenLength < s.token.size()) s.token[s.tokenLength] = lower(c);
              if (s.tokenLength <= s.token.size()) ++s.tokenLength;  // saturates past the prefix
            }
          } else if (!s.inValue) {
            if (c == ':') {
              if (s.nameLength == 0) return refuse(RtspRefusal::Malformed, i);
              classifyName(s);
              s.inValue = true;
            } else if (isBlank(c)) {
              return refuse(RtspRefusal::Malformed, i);  // a name is one token
            } else {
              if (s.nameLength < s.name.size()) s.name[s.nameLength] = lower(c);
              ++s.nameLength;
            }
          } else if (const RtspRefusal why = valueByte(s, c, limits); why != RtspRefusal::None) {
            return refuse(why, i);
          }
        }
        if (!lineEnd) {
          ++i;
          break;
        }
        if (s.lineBytes == 0) {
          // The blank line. After an LF alone, the server reads "\r\n" differently.
          if (!bareLf && s.lastEndBareLf) return refuse(RtspRefusal::Malformed, i);
          if (s.bodyTooLarge) return refuse(RtspRefusal::BodyTooLarge, i);
          ++i;
          ++s.headsEnded;
          s.remaining = s.contentLength;
          s.phase = s.remaining > 0 ? Phase::Body : Phase::Idle;
          break;
        }
        if (s.requestLine) {
          if (tokenIsHttpVersion(s) || s.httpVersion) return refuse(RtspRefusal::Tunnel, i);
          s.requestLine = false;
        } else {
          if (!s.inValue) return refuse(RtspRefusal::Malformed, i);  // no colon
          if (s.field == Field::ContentLength) {
            if (!s.valueStarted || s.haveContentLength) return refuse(RtspRefusal::Malformed, i);
            // Refused at the head's end, so that a CSeq after it is echoed.
            s.bodyTooLarge = s.valueTooLarge;
            s.haveContentLength = true;
            s.contentLength = s.valueNumber;
          } else if (s.field == Field::CSeq && s.valueStarted && !s.valueTooLarge) {
            s.cseq = s.cseqDigits;
            s.cseqLength = s.cseqPending;
          }
          ++s.headerLines;
        }
        s.lastEndBareLf = bareLf;
        startLine(s);
        ++i;
        break;
      }
      case Phase::Refused:
        return refuse(s.refusal, i);
    }
  }
  result.passed = length;
  return result;
}

std::string rtspRefusalReply(const RtspScanState& state) {
  std::string reply;
  switch (state.refusal) {
    case RtspRefusal::HeadTooLarge:
      reply = "RTSP/1.0 431 Request Header Fields Too Large\r\n";
      break;
    case RtspRefusal::BodyTooLarge:
      reply = "RTSP/1.0 413 Request Entity Too Large\r\n";
      break;
    default:
      reply = "RTSP/1.0 400 Bad Request\r\n";
      break;
  }
  return withCSeqAndClose(std::move(reply), state);
}

std::string rtspTimeoutReply(const RtspScanState& state) {
  return withCSeqAndClose("RTSP/1.0 408 Request Timeout\r\n", state);
}
