#pragma once
// Bodies of the requests the client sends, byte for byte. Integers are big-endian.
#include <array>
#include <cstdint>
#include <string_view>

std::array<uint8_t, 15> buildConfigSetBody(bool flag);
std::array<uint8_t, 5> buildQosResolutionBody(uint32_t value, uint8_t byte);
std::array<uint8_t, 18> buildLiveSetupBody();
std::array<uint8_t, 20> buildLiveStartBody(uint32_t channelMask);
// channel counted from 0; the body carries it counted from 1.
std::array<uint8_t, 4> buildLiveFrameBody(int32_t channel);
// Credentials are cut to their 32-byte fields.
std::array<uint8_t, 67> buildPtzControlBody(std::string_view userId, std::string_view password,
                                            uint8_t channel, uint8_t command, uint8_t value);
std::array<uint8_t, 6> buildAliveCheckBody();
std::array<uint8_t, 22> buildAudioStartBody(uint32_t mask);
// number counted from 1; only its low byte is sent.
std::array<uint8_t, 8> buildAudioChannelBody(uint32_t number);
std::array<uint8_t, 20> buildAudioSelectBody(uint32_t channelMask);
std::array<uint8_t, 20> buildAudioStopBody(uint32_t mask);
