#include "protocol/frame_reader.h"

#include <algorithm>
#include <new>

#include "protocol/byte_order.h"
#include "protocol/socket_channel.h"

bool readExact(CSocketChannel& channel, uint8_t* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    size_t got = 0;
    if (!channel.receive(buffer + done, size - done, &got)) return false;
    done += got;
  }
  return true;
}

bool discardExact(CSocketChannel& channel, uint64_t size) {
  uint8_t scratch[4096];
  while (size > 0) {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(size, sizeof scratch));
    size_t got = 0;
    if (!channel.receive(scratch, chunk, &got)) return false;
    size -= got;
  }
  return true;
}

FrameRead readAllocatedMessage(CSocketChannel& channel,
                               std::array<uint8_t, MessageHeader::kSize>& header,
                               std::unique_ptr<uint8_t[]>& body, uint32_t* length) {
  body.reset();
  *length = 0;
  if (!readExact(channel, header.data(), header.size())) return FrameRead::Failed;
  if (!MessageHeader::hasMagic(header.data())) {
    header.fill(0);
    return FrameRead::Dropped;
  }
  const uint32_t bodyLength = readBe32(header.data() + 5);
  if (bodyLength == 0) return FrameRead::Ready;
  if (bodyLength > kControlSanityBound) {
    header.fill(0);
    return FrameRead::Absurd;
  }
  if (bodyLength <= kMaxControlBodyLength) body.reset(new (std::nothrow) uint8_t[bodyLength]);
  if (!body) {
    header.fill(0);
    return discardExact(channel, bodyLength) ? FrameRead::Dropped : FrameRead::Failed;
  }
  if (!readExact(channel, body.get(), bodyLength)) {
    body.reset();
    header.fill(0);
    return FrameRead::Failed;
  }
  *length = bodyLength;
  return FrameRead::Ready;
}
