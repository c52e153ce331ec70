#pragma once
// The 17-byte header in front of every message: magic "ZEMO", a NUL, then big-endian length,
// command and subCode.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

struct MessageHeader {
  static constexpr size_t kSize = 17;
  static constexpr std::string_view kMagic = "ZEMO";

  uint32_t length = 0;  // body bytes that follow
  uint32_t command = 0;
  uint32_t subCode = 0;  // the sender repeats the command here

  // The 17 bytes of a header for a message this side sends (subCode = command).
  static std::array<uint8_t, kSize> build(uint32_t command, uint32_t length);
  // Writes a header into out (at least 17 bytes); false for a missing buffer or a zero code.
  static bool build(uint8_t* out, uint32_t command, uint32_t length);

  // Parses 17 received bytes; empty when the magic doesn't match (byte 4 is not checked).
  static std::optional<MessageHeader> parse(std::span<const uint8_t, kSize> bytes);
  static bool hasMagic(const uint8_t* bytes);
};

// A whole message as it goes out in one send: header followed by body.
std::vector<uint8_t> buildMessage(uint32_t command, std::span<const uint8_t> body = {});

// The 64-byte login body: user id and password, each NUL-padded in 32 bytes and cut to fit.
inline constexpr size_t kLoginBodySize = 64;
inline constexpr size_t kCredentialFieldSize = 32;
std::array<uint8_t, kLoginBodySize> buildLoginBody(std::string_view userId,
                                                   std::string_view password);
