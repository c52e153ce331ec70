#pragma once
// The bodies of the DVR's messages, laid out at the offsets the viewer reads.
#include <cstdint>
#include <string_view>
#include <vector>

namespace dvremu {

inline constexpr uint16_t kStatusOk = 1;

// Zeroed body of `size` bytes with the status word at 0.
std::vector<uint8_t> statusBody(size_t size, uint16_t status);
std::vector<uint8_t> authResultBody(uint16_t status, bool admin);
// 50 bytes: status, channel count at 2, model text from 10 (NUL-terminated), video standard at
// 18, a name from 20.
std::vector<uint8_t> productInfoBody(uint16_t status, std::string_view model, uint8_t videoStandard,
                                     uint8_t channelCount);
// 81 + rows * columns bytes: masks at 67 (B), 71 (PTZ), 75 (A), rows at 79, columns at 80.
std::vector<uint8_t> ptzActiveCamBody(uint16_t status, uint32_t disabledMaskB, uint32_t ptzMask,
                                      uint32_t disabledMaskA, uint8_t rows, uint8_t columns);
std::vector<uint8_t> liveOpenBody(uint16_t status, uint16_t port);  // 4 bytes
std::vector<uint8_t> liveMaskBody(uint16_t status, uint32_t mask);  // 22 bytes
std::vector<uint8_t> ptzControlBody(uint16_t status, uint8_t reason, uint8_t channel, uint8_t code,
                                    uint8_t value);                  // 70 bytes
std::vector<uint8_t> audioOpenBody(uint16_t status, uint16_t port);  // 69 bytes
std::vector<uint8_t> audioChannelBody(uint16_t status, uint8_t channel,
                                      bool available);  // 76 bytes
// 24 bytes: notice type at 0, actor word at 8 (non-zero: a plain user).
std::vector<uint8_t> noticeBody(uint8_t type, bool byUser);
// subCode of a notice: bits 16..23 carry 1, the low byte the notice type.
uint32_t noticeSubCode(uint8_t type);

// Body sizes of the replies with a plain status.
inline constexpr size_t kConfigSetBodySize = 24;
inline constexpr size_t kQosBodySize = 7;
inline constexpr size_t kLiveSetupBodySize = 20;
inline constexpr size_t kLiveCloseBodySize = 2;
inline constexpr size_t kDisconnectBodySize = 2;
inline constexpr size_t kAudioStartBodySize = 89;
inline constexpr size_t kAudioSelectBodySize = 87;
inline constexpr size_t kAudioStopBodySize = 87;
inline constexpr size_t kAudioCloseBodySize = 67;
inline constexpr size_t kAudio11BodySize = 91;
inline constexpr size_t kFramePrefixSize = 6;
inline constexpr size_t kFrameHeaderSize = 16;
inline constexpr size_t kAudioPrefixSize = 16;

}  // namespace dvremu
