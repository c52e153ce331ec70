#pragma once
// Reading framed messages on a channel's receive thread.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "protocol/message_header.h"

class CSocketChannel;

// Largest body the control and notice connections allocate. Real replies are far smaller (the
// largest, RSP_PTZACTIVECAM, stays under 66 KB); a larger length is read and thrown away.
inline constexpr uint32_t kMaxAllocatedBodyLength = 4u * 1024u * 1024u;

// Reads exactly size bytes, continuing after short reads. False when a read failed.
bool readExact(CSocketChannel& channel, uint8_t* buffer, size_t size);

// Reads and throws away size bytes in small chunks. False when a read failed.
bool discardExact(CSocketChannel& channel, uint64_t size);

enum class FrameRead {
  Ready,    // header and body are complete
  Dropped,  // wrong magic, an oversized body (read and discarded) or no memory for the body
  Failed,   // a read failed; the connection is going down
};

// Reads one header and its body into a buffer allocated at exactly the body's length (null for
// length 0). On anything but Ready the body is freed and the header zeroed.
FrameRead readAllocatedMessage(CSocketChannel& channel,
                               std::array<uint8_t, MessageHeader::kSize>& header,
                               std::unique_ptr<uint8_t[]>& body, uint32_t* length);
