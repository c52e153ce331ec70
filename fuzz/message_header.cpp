// Feeds arbitrary bytes to the header parser, 17 bytes at a time.
#include <cstddef>
#include <cstdint>

#include "protocol/message_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  while (size >= MessageHeader::kSize) {
    const auto header = MessageHeader::parse(
        std::span<const uint8_t, MessageHeader::kSize>(data, MessageHeader::kSize));
    if (header && header->length > size) break;
    data += MessageHeader::kSize;
    size -= MessageHeader::kSize;
  }
  return 0;
}
