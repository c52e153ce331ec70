#pragma once
// What the live-stream connection hands its frames to. The video decoder implements the codec
// path, the frame renderer the JPEG path; tests use recording stand-ins.
#include <cstdint>

// Bytes that stay readable after the end of any frame handed to a sink: the frame points into the
// connection's body buffer, which keeps this much zeroed room past its largest body.
inline constexpr uint32_t kFrameReadSlack = 16;

class ICodecFrameSink {
 public:
  virtual ~ICodecFrameSink() = default;
  // Decodes one codec frame (FrameHeader first) into display memory. Runs on the live-stream
  // thread; the caller ignores the result.
  virtual bool decodeFrame(const uint8_t* frame, uint32_t length) = 0;
};

class IJpegFrameSink {
 public:
  virtual ~IJpegFrameSink() = default;
  // Decodes and draws one JPEG frame (FrameHeader, then the JPEG image). Runs on the live-stream
  // thread; the caller ignores the result. The JPEG decoder works in place and may write up to 3
  // bytes past the frame's end (inside the slack above).
  virtual bool drawJpegFrame(uint8_t* frame, uint32_t length) = 0;
};
