// What an RTSP client may send: real traffic passes byte for byte however it is split; heads,
// header counts and bodies over their bounds, and input the server could read differently from
// us, are refused at the byte that breaks the rule, with the right answer.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "bridge/rtsp_request_guard.h"

namespace {

struct Scan {
  size_t passed = 0;
  RtspRefusal refusal = RtspRefusal::None;
  std::string reply;
};

// The input in pieces of the given sizes (cycled); what passed in all, and the refusal.
Scan scanInPieces(const std::string& input, const std::vector<size_t>& pieces,
                  const RtspRequestLimits& limits = {}) {
  RtspScanState state;
  Scan scan;
  size_t at = 0;
  for (size_t n = 0; at < input.size(); ++n) {
    const size_t length = std::min(pieces[n % pieces.size()], input.size() - at);
    const RtspScanResult result =
        scanRtspInput(state, reinterpret_cast<const uint8_t*>(input.data()) + at, length, limits);
    scan.passed += result.passed;
    if (result.refusal != RtspRefusal::None) {
      scan.refusal = result.refusal;
      scan.reply = rtspRefusalReply(state);
      // Refused for good: nothing more passes.
      const RtspScanResult after =
          scanRtspInput(state, reinterpret_cast<const uint8_t*>("OPTIONS"), 7, limits);
      EXPECT_EQ(after.passed, 0u);
      EXPECT_EQ(after.refusal, result.refusal);
      return scan;
    }
    EXPECT_EQ(result.passed, length);
    at += length;
  }
  return scan;
}

// Whole, byte by byte and in random pieces: the same result every time.
Scan scanEveryWay(const std::string& input, const RtspRequestLimits& limits = {}) {
  const Scan whole = scanInPieces(input, {input.size() + 1}, limits);
  const Scan bytes = scanInPieces(input, {1}, limits);
  std::mt19937 random(7);
  std::vector<size_t> pieces(32);
  for (size_t& piece : pieces) piece = 1 + random() % 97;
  const Scan split = scanInPieces(input, pieces, limits);
  EXPECT_EQ(bytes.passed, whole.passed);
  EXPECT_EQ(split.passed, whole.passed);
  EXPECT_EQ(bytes.refusal, whole.refusal);
  EXPECT_EQ(split.refusal, whole.refusal);
  EXPECT_EQ(bytes.reply, whole.reply);
  return whole;
}

std::string frame(uint8_t channel, const std::string& payload) {
  std::string out = "$";
  out += static_cast<char>(channel);
  out += static_cast<char>(payload.size() >> 8);
  out += static_cast<char>(payload.size() & 0xFF);
  return out + payload;
}

std::string headerLines(size_t count) {
  std::string lines;
  for (size_t n = 0; n < count; ++n) lines += "X-Line-" + std::to_string(n) + ": y\r\n";
  return lines;
}

}  // namespace

TEST(RtspRequestGuard, RealClientTrafficPassesWhole) {
  // What ffmpeg and GStreamer's rtspsrc send, with bodies, keep-alive line ends between
  // messages, bare LF line ends, and interleaved RTCP whose payload looks like requests.
  std::string binary(300, '\0');
  for (size_t n = 0; n < binary.size(); ++n) binary[n] = static_cast<char>(n * 37);
  const std::string parameters = "$\r\n\r\nnot a head\r\n";
  const std::string traffic =
      "OPTIONS rtsp://127.0.0.1:8554/channel/1 RTSP/1.0\r\nCSeq: 1\r\n"
      "User-Agent: Lavf59.27.100\r\n\r\n"
      "DESCRIBE rtsp://127.0.0.1:8554/channel/1 RTSP/1.0\r\nAccept: application/sdp\r\n"
      "CSeq: 2\r\nAuthorization: Digest username=\"viewer\", realm=\"PelloxView bridge\", "
      "nonce=\"abc\", uri=\"rtsp://127.0.0.1:8554/channel/1\", response=\"0123\"\r\n\r\n"
      "\r\n"
      "SETUP rtsp://127.0.0.1:8554/channel/1/stream=0 RTSP/1.0\nTransport: "
      "RTP/AVP/TCP;unicast;interleaved=0-1\nCSeq: 3\n\n"
      "PLAY rtsp://127.0.0.1:8554/channel/1/ RTSP/1.0\r\nCSeq: 4\r\nRange: npt=0.000-\r\n\n" +
      frame(1, binary) + frame(3, "OPTIONS * RTSP/1.0\r\nContent-Length: 99999\r\n\r\n") +
      frame(1, "") + frame(1, std::string(65535, '$')) +
      "SET_PARAMETER rtsp://127.0.0.1:8554/channel/1/ RTSP/1.0\r\nCSeq: 5\r\n"
      "content-LENGTH:  " +
      std::to_string(parameters.size()) + " \r\nContent-Type: text/parameters\r\n\r\n" +
      parameters + "GET_PARAMETER * RTSP/1.0\r\nCSeq: 6\r\n\r\n" + frame(1, "tail");
  const Scan scan = scanEveryWay(traffic);
  EXPECT_EQ(scan.refusal, RtspRefusal::None);
  EXPECT_EQ(scan.passed, traffic.size());
}

TEST(RtspRequestGuard, HeadsHeaderCountsAndBodiesAreBounded) {
  const std::string start = "OPTIONS * RTSP/1.0\r\nCSeq: 17\r\n";
  // 100 header lines pass; the 101st is refused at its first byte, with the CSeq echoed.
  const std::string hundred = start + headerLines(99) + "\r\n";
  EXPECT_EQ(scanEveryWay(hundred).refusal, RtspRefusal::None);
  const std::string tooMany = start + headerLines(10000) + "\r\n";
  const Scan many = scanEveryWay(tooMany);
  EXPECT_EQ(many.refusal, RtspRefusal::HeadTooLarge);
  EXPECT_EQ(many.passed, hundred.size() - 2);
  EXPECT_EQ(many.reply,
            "RTSP/1.0 431 Request Header Fields Too Large\r\nCSeq: 17\r\n"
            "Connection: close\r\n\r\n");

  // A head of exactly the limit passes, one byte more doesn't (a single overlong line too).
  RtspRequestLimits limits;
  const auto headOf = [&](size_t size) {
    const std::string shell = start + "X-Pad: \r\n\r\n";
    return start + "X-Pad: " + std::string(size - shell.size(), 'p') + "\r\n\r\n";
  };
  EXPECT_EQ(scanEveryWay(headOf(limits.maxHeadBytes)).refusal, RtspRefusal::None);
  const Scan over = scanEveryWay(headOf(limits.maxHeadBytes + 1));
  EXPECT_EQ(over.refusal, RtspRefusal::HeadTooLarge);
  EXPECT_EQ(over.passed, limits.maxHeadBytes);

  // Bodies up to the limit pass and are skipped whole; above it, 413 once the head has ended,
  // so that a CSeq after the length is echoed too. However many digits, nothing overflows.
  const std::string body(limits.maxBodyBytes, '\n');
  const std::string atLimit =
      "SET_PARAMETER * RTSP/1.0\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
      body + frame(0, "x");
  EXPECT_EQ(scanEveryWay(atLimit).passed, atLimit.size());
  for (const std::string& length : {std::to_string(body.size() + 1), std::string(400, '9')}) {
    const Scan large = scanEveryWay("SET_PARAMETER * RTSP/1.0\r\nContent-Length: " + length +
                                    "\r\nCSeq: 8\r\n\r\nxyz");
    EXPECT_EQ(large.refusal, RtspRefusal::BodyTooLarge) << length;
    EXPECT_EQ(large.reply,
              "RTSP/1.0 413 Request Entity Too Large\r\nCSeq: 8\r\nConnection: close\r\n\r\n");
  }
  // The bounds are per request: many requests in a row, each within them, all pass.
  std::string sequence;
  for (int n = 0; n < 50; ++n) sequence += start + headerLines(90) + "\r\n";
  EXPECT_EQ(scanEveryWay(sequence).passed, sequence.size());
}

TEST(RtspRequestGuard, InputTheServerCouldReadDifferentlyIsRefused) {
  struct Case {
    const char* what;
    std::string input;
    RtspRefusal refusal = RtspRefusal::Malformed;
  };
  const std::string start = "DESCRIBE rtsp://h/channel/1 RTSP/1.0\r\nCSeq: 4\r\n";
  const std::vector<Case> cases{
      {"a lone CR", start + "X-A: b\rX-C: d\r\n\r\n"},
      {"a NUL", start + std::string("\0X: y\r\n\r\n", 9)},
      {"a TLS hello", std::string("\x16\x03\x01\x00\xff\r\n\r\n", 9)},
      {"a folded line", start + "X-A: b\r\n c\r\n\r\n"},
      {"LF then CRLF", start + "X-A: b\n\r\nbody"},
      {"a space in a name", start + "Content-Length : 5\r\n\r\nhello"},
      {"no colon", start + "Content-Length 5\r\n\r\nhello"},
      {"an empty name", start + ": 5\r\n\r\n"},
      {"two lengths", start + "Content-Length: 1\r\nContent-Length: 2\r\n\r\nab"},
      {"a signed length", start + "Content-Length: +5\r\n\r\nhello"},
      {"a length with text", start + "Content-Length: 5 5\r\n\r\nhello"},
      {"an empty length", start + "Content-Length:\r\n\r\n"},
      {"an HTTP tunnel", "GET /channel/1 HTTP/1.0\r\nCSeq: 4\r\nx-sessioncookie: a\r\n\r\n",
       RtspRefusal::Tunnel},
      {"an HTTP POST", "POST /x http/1.1\r\n\r\n", RtspRefusal::Tunnel},
  };
  for (const Case& c : cases) {
    const Scan scan = scanEveryWay(c.input);
    EXPECT_EQ(scan.refusal, c.refusal) << c.what;
    EXPECT_EQ(scan.reply.rfind("RTSP/1.0 400 Bad Request\r\n", 0), 0u) << c.what;
    EXPECT_LT(scan.passed, c.input.size()) << c.what;
  }
  // The CSeq is echoed when it came before the fault, and only as a plain number.
  EXPECT_NE(scanEveryWay(start + std::string("X\0:\r\n", 5)).reply.find("CSeq: 4\r\n"),
            std::string::npos);
  EXPECT_EQ(scanEveryWay("OPTIONS * RTSP/1.0\r\nCSeq: 4x\r\nA B: c\r\n\r\n").reply,
            "RTSP/1.0 400 Bad Request\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(scanEveryWay("OPTIONS * RTSP/1.0\r\nCSeq: 12345678901\r\nA B: c\r\n\r\n").reply,
            "RTSP/1.0 400 Bad Request\r\nConnection: close\r\n\r\n");
  // Line ends the server reads as we do pass: CRLF, LF, and a blank LF after a CRLF line.
  for (const std::string& ok :
       std::vector<std::string>{start + "\r\n", start + "X: y\n\n", start + "X: y\r\n\n",
                                "OPTIONS * RTSP/1.0\nCSeq: 1\n\n"})
    EXPECT_EQ(scanEveryWay(ok).refusal, RtspRefusal::None) << ok;
}
