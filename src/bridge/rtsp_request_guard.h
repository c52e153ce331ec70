#pragma once
// What an RTSP client may send the bridge, checked as the bytes stream past: request heads
// (request line and headers up to the blank line), bodies by their Content-Length, and
// interleaved frames ('$', channel, 16-bit length) passed through as they are. Nothing is
// buffered here; the scanner keeps a few counters per connection, so any byte stream costs a
// fixed amount of memory.
//
// GStreamer's RTSP server keeps every header line of a request and is lenient about line ends
// (a lone CR, an LF before CRLF, folded lines). The scanner is strict where that leniency could
// make the two disagree on where a request ends: such input is refused, never guessed at.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

struct RtspRequestLimits {
  // Real clients send well under 2 KiB and 15 headers (a digest Authorization is the longest);
  // these leave room for long URLs and vendor headers while bounding what a client can make
  // the server keep.
  size_t maxHeadBytes = 16 * 1024;
  size_t maxHeaderLines = 100;
  size_t maxBodyBytes = 16 * 1024;
};

enum class RtspRefusal : uint8_t {
  None,
  Malformed,     // 400: a control byte, a lone CR, a folded line, a bad Content-Length...
  HeadTooLarge,  // 431: over maxHeadBytes or maxHeaderLines
  BodyTooLarge,  // 413: a Content-Length over maxBodyBytes
  Tunnel,        // 400: an HTTP request line (RTSP over HTTP is not relayed)
};

// Per connection; starts between messages.
struct RtspScanState {
  enum class Phase : uint8_t { Idle, Head, Body, FrameHeader, FrameBody, Refused };
  Phase phase = Phase::Idle;
  size_t headBytes = 0;
  size_t headerLines = 0;   // lines after the request line
  size_t lineBytes = 0;     // of the current line, without its end
  size_t remaining = 0;     // of a body or a frame
  uint8_t frameHeader = 0;  // bytes of the frame header after '$' seen so far
  uint16_t frameLength = 0;
  bool afterCr = false;        // the last byte was a CR that needs its LF
  bool lastEndBareLf = false;  // the previous line ended with an LF alone
  bool requestLine = false;    // the current line is the head's first
  bool httpVersion = false;    // a token of the request line starts with "HTTP/"
  bool bodyTooLarge = false;   // refused once the head has ended
  // The header being read: its name (lower case, cut), whether its colon came, what it is.
  std::array<char, 16> name{};
  size_t nameLength = 0;
  bool inValue = false;
  enum class Field : uint8_t { Other, ContentLength, CSeq } field = Field::Other;
  bool valueStarted = false, valueEnded = false;
  uint64_t valueNumber = 0;
  bool valueTooLarge = false;
  // The request line's current token, its first bytes (lower case).
  std::array<char, 5> token{};
  size_t tokenLength = 0;
  // What the head said so far.
  bool haveContentLength = false;
  uint64_t contentLength = 0;
  std::array<char, 10> cseq{};  // digits, for the refusal's echo
  size_t cseqLength = 0;
  size_t cseqPending = 0;  // digits of the CSeq being read
  std::array<char, 10> cseqDigits{};
  RtspRefusal refusal = RtspRefusal::None;
  uint64_t headsEnded = 0;  // message heads read to their blank line
};

struct RtspScanResult {
  size_t passed = 0;  // bytes from the start of the input that may go to the server
  RtspRefusal refusal = RtspRefusal::None;  // set: the byte at `passed` broke a rule
};

// Scans the next bytes of a connection. A pure function of the state and the input: the same
// bytes give the same result however they are split. Once refused, every later call passes
// nothing and repeats the refusal.
RtspScanResult scanRtspInput(RtspScanState& state, const uint8_t* data, size_t length,
                             const RtspRequestLimits& limits);

// The answer to a refused request, with the request's CSeq when it came before the fault.
std::string rtspRefusalReply(const RtspScanState& state);

// The answer to a request that didn't come whole in time, with its CSeq when that came.
std::string rtspTimeoutReply(const RtspScanState& state);
