#include "reply_bodies.h"

#include <algorithm>
#include <cstring>

#include "protocol/byte_order.h"

namespace dvremu {

std::vector<uint8_t> statusBody(size_t size, uint16_t status) {
  std::vector<uint8_t> body(std::max<size_t>(size, 2), 0);
  writeBe16(body.data(), status);
  body.resize(size);
  return body;
}

std::vector<uint8_t> authResultBody(uint16_t status, bool admin) {
  auto body = statusBody(3, status);
  body[2] = admin ? 1 : 0;
  return body;
}

std::vector<uint8_t> productInfoBody(uint16_t status, std::string_view model, uint8_t videoStandard,
                                     uint8_t channelCount) {
  auto body = statusBody(50, status);
  body[2] = channelCount;
  std::memcpy(body.data() + 10, model.data(), std::min<size_t>(model.size(), 7));
  body[18] = videoStandard;
  constexpr std::string_view kName = "DVR-EMULATOR";
  std::memcpy(body.data() + 20, kName.data(), kName.size());
  return body;
}

std::vector<uint8_t> ptzActiveCamBody(uint16_t status, uint32_t disabledMaskB, uint32_t ptzMask,
                                      uint32_t disabledMaskA, uint8_t rows, uint8_t columns) {
  auto body = statusBody(81 + static_cast<size_t>(rows) * columns, status);
  writeBe32(body.data() + 67, disabledMaskB);
  writeBe32(body.data() + 71, ptzMask);
  writeBe32(body.data() + 75, disabledMaskA);
  body[79] = rows;
  body[80] = columns;
  return body;
}

std::vector<uint8_t> liveOpenBody(uint16_t status, uint16_t port) {
  auto body = statusBody(4, status);
  writeBe16(body.data() + 2, port);
  return body;
}

std::vector<uint8_t> liveMaskBody(uint16_t status, uint32_t mask) {
  auto body = statusBody(22, status);
  writeBe32(body.data() + 2, mask);
  return body;
}

std::vector<uint8_t> ptzControlBody(uint16_t status, uint8_t reason, uint8_t channel, uint8_t code,
                                    uint8_t value) {
  auto body = statusBody(70, status);
  body[64] = channel;
  body[65] = code;
  body[66] = value;
  body[68] = reason;
  return body;
}

std::vector<uint8_t> audioOpenBody(uint16_t status, uint16_t port) {
  auto body = statusBody(69, status);
  writeBe16(body.data() + 67, port);
  return body;
}

std::vector<uint8_t> audioChannelBody(uint16_t status, uint8_t channel, bool available) {
  auto body = statusBody(76, status);
  body[67] = channel;
  body[68] = available ? 1 : 0;
  return body;
}

std::vector<uint8_t> noticeBody(uint8_t type, bool byUser) {
  std::vector<uint8_t> body(24, 0);
  writeBe32(body.data(), type);
  writeBe32(body.data() + 8, byUser ? 1 : 0);
  return body;
}

uint32_t noticeSubCode(uint8_t type) {
  return 0x00010000u | type;
}

}  // namespace dvremu
