#include "protocol/message_header.h"

#include <cstring>

#include "platform/fixed_field.h"
#include "protocol/byte_order.h"

bool MessageHeader::build(uint8_t* out, uint32_t command, uint32_t length) {
  if (out == nullptr || command == 0) return false;
  std::memset(out, 0, kSize);
  std::memcpy(out, kMagic.data(), kMagic.size());  // byte 4 stays 0: the magic's terminator
  writeBe32(out + 9, command);
  writeBe32(out + 13, command);
  writeBe32(out + 5, length);
  return true;
}

std::array<uint8_t, MessageHeader::kSize> MessageHeader::build(uint32_t command, uint32_t length) {
  std::array<uint8_t, kSize> bytes{};
  std::memcpy(bytes.data(), kMagic.data(), kMagic.size());
  writeBe32(bytes.data() + 5, length);
  writeBe32(bytes.data() + 9, command);
  writeBe32(bytes.data() + 13, command);
  return bytes;
}

bool MessageHeader::hasMagic(const uint8_t* bytes) {
  return std::memcmp(bytes, kMagic.data(), kMagic.size()) == 0;
}

std::optional<MessageHeader> MessageHeader::parse(std::span<const uint8_t, kSize> bytes) {
  if (!hasMagic(bytes.data())) return std::nullopt;
  MessageHeader header;
  header.length = readBe32(bytes.data() + 5);
  header.command = readBe32(bytes.data() + 9);
  header.subCode = readBe32(bytes.data() + 13);
  return header;
}

std::vector<uint8_t> buildMessage(uint32_t command, std::span<const uint8_t> body) {
  std::vector<uint8_t> message(MessageHeader::kSize + body.size());
  const auto header = MessageHeader::build(command, static_cast<uint32_t>(body.size()));
  std::memcpy(message.data(), header.data(), header.size());
  if (!body.empty()) std::memcpy(message.data() + MessageHeader::kSize, body.data(), body.size());
  return message;
}

std::array<uint8_t, kLoginBodySize> buildLoginBody(std::string_view userId,
                                                   std::string_view password) {
  std::array<uint8_t, kLoginBodySize> body{};
  std::span<uint8_t> all(body);
  writeFixedField(all.subspan(0, kCredentialFieldSize), userId, FieldEnd::NoSpace);
  writeFixedField(all.subspan(kCredentialFieldSize, kCredentialFieldSize), password,
                  FieldEnd::NoSpace);
  return body;
}
