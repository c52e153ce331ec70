#pragma once
// Reading framed messages on a channel's receive thread.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "protocol/message_header.h"

class CSocketChannel;

// Largest body on the control and notice connections: RSP_PTZACTIVECAM with 81 bytes and
// 255 x 255 further bytes. A longer body is read and thrown away.
inline constexpr uint32_t kMaxControlBodyLength = 65106;
// A length above this can't come from a sound peer: the connection is closed instead of reading
// (up to 4 GiB) past it.
inline constexpr uint32_t kControlSanityBound = 4 * kMaxControlBodyLength;

// Reads exactly size bytes, continuing after short reads. False when a read failed.
bool readExact(CSocketChannel& channel, uint8_t* buffer, size_t size);

// Reads and throws away size bytes in small chunks. False when a read failed.
bool discardExact(CSocketChannel& channel, uint64_t size);

enum class FrameRead {
  Ready,    // header and body are complete
  Dropped,  // wrong magic, an oversized body (read and discarded) or no memory for the body
  Failed,   // a read failed; the connection is going down
  Absurd,   // a length above kControlSanityBound; nothing of the body was read
};

// Reads one control or notice message: the header and its body into a buffer allocated at
// exactly the body's length (null for length 0). On anything but Ready the body is freed and the
// header zeroed.
FrameRead readAllocatedMessage(CSocketChannel& channel,
                               std::array<uint8_t, MessageHeader::kSize>& header,
                               std::unique_ptr<uint8_t[]>& body, uint32_t* length);
