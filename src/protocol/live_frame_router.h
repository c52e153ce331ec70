#pragma once
// Where a live-stream connection that pulls many channels hands what arrives: it decides which
// channel is asked for next. Called on the connection's receive thread.
#include <cstdint>

class ILiveFrameRouter {
 public:
  virtual ~ILiveFrameRouter() = default;
  // One answer to a REQ_LIVEFRAME. frame points at the frame header (the marker, then a channel
  // byte below 16), length bytes and kFrameReadSlack zero bytes after them; frameType is the
  // prefix's (0 MPEG-4, 1 JPEG). frame is null for an answer that names no channel: a failure
  // status, a body without a frame, or a frame too long to read.
  virtual void onLiveFrameAnswer(uint8_t* frame, uint32_t length, uint16_t frameType) = 0;
  // A frame the DVR pushed unasked (RSP_LIVEDATA, codec data); frame as above.
  virtual void onLiveData(uint8_t* frame, uint32_t length) = 0;
};
