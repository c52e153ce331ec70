#pragma once
// spandsp's G.726 codec as the independent reference of the audio tests, and test signals.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace reference {

// spandsp G.726 with linear samples; packing is one of spandsp's G726_PACKING_* values.
std::vector<uint8_t> g726Encode(int bitRate, int packing, const std::vector<int16_t>& samples);
std::vector<int16_t> g726Decode(int bitRate, int packing, const std::vector<uint8_t>& bytes);

// Packs 3-bit codes least significant bit first, eight codes per three bytes.
std::vector<uint8_t> pack3(const std::vector<uint8_t>& codes);

// Test signals at 8000 samples/s.
std::vector<int16_t> tone(double hz, double amplitude, size_t count);
std::vector<int16_t> speechLike(size_t count, uint32_t seed);

// Signal-to-noise ratio of decoded against source in dB, from sample `skip` on.
double snrDb(const std::vector<int16_t>& source, const std::vector<int16_t>& decoded, size_t skip);

}  // namespace reference
