#include "protocol/request_bodies.h"

#include <span>

#include "platform/fixed_field.h"
#include "protocol/byte_order.h"
#include "protocol/message_header.h"

std::array<uint8_t, 15> buildConfigSetBody(bool flag) {
  std::array<uint8_t, 15> body{};
  writeBe16(&body[0], 0);
  writeBe32(&body[2], 1);
  writeBe32(&body[6], flag ? 1 : 2);
  writeBe32(&body[10], 1);
  body[14] = 1;
  return body;
}

std::array<uint8_t, 5> buildQosResolutionBody(uint32_t value, uint8_t byte) {
  std::array<uint8_t, 5> body{};
  writeBe32(&body[0], value);
  body[4] = byte;
  return body;
}

std::array<uint8_t, 18> buildLiveSetupBody() {
  std::array<uint8_t, 18> body{};
  writeBe32(&body[0], 0xFFFFFFFFu);
  return body;
}

std::array<uint8_t, 20> buildLiveStartBody(uint32_t channelMask) {
  std::array<uint8_t, 20> body{};
  writeBe32(&body[0], channelMask);
  return body;
}

std::array<uint8_t, 4> buildLiveFrameBody(int32_t channel) {
  return {static_cast<uint8_t>(channel + 1), 0x01, 0x00, 0x01};
}

std::array<uint8_t, 67> buildPtzControlBody(std::string_view userId, std::string_view password,
                                            uint8_t channel, uint8_t command, uint8_t value) {
  std::array<uint8_t, 67> body{};
  std::span<uint8_t> all(body);
  writeFixedField(all.subspan(0, kCredentialFieldSize), userId, FieldEnd::NoSpace);
  writeFixedField(all.subspan(kCredentialFieldSize, kCredentialFieldSize), password,
                  FieldEnd::NoSpace);
  body[64] = channel;
  body[65] = command;
  body[66] = value;
  return body;
}

std::array<uint8_t, 6> buildAliveCheckBody() {
  return {};
}

std::array<uint8_t, 22> buildAudioStartBody(uint32_t mask) {
  std::array<uint8_t, 22> body{};
  writeBe32(&body[0], mask);
  writeBe32(&body[4], 0);
  return body;
}

std::array<uint8_t, 8> buildAudioChannelBody(uint32_t number) {
  std::array<uint8_t, 8> body{};
  body[0] = static_cast<uint8_t>(number & 0xFF);
  return body;
}

std::array<uint8_t, 20> buildAudioSelectBody(uint32_t channelMask) {
  std::array<uint8_t, 20> body{};
  writeBe32(&body[0], channelMask);
  return body;
}

std::array<uint8_t, 20> buildAudioStopBody(uint32_t mask) {
  return buildAudioSelectBody(mask);
}
