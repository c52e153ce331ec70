#pragma once
// What the Connect command hands to message 2024: the user's input in fixed 8-bit fields.
#include <array>
#include <cstdint>

struct ConnectRequest {
  static constexpr size_t kFieldSize = 260;
  std::array<uint8_t, kFieldSize> name{};
  std::array<uint8_t, kFieldSize> address{};  // replaced in place by the address connected to
  std::array<uint8_t, kFieldSize> password{};
  std::array<uint8_t, kFieldSize> userId{};
  uint16_t port = 0;
  uint8_t option1 = 0;
  uint8_t nameFlag = 0;  // 0: the DVR's display name is its address; else it is `name`
  uint8_t option2 = 0;
};
