#pragma once
// pshufb masks shared by the SIMD colour conversions: kInterleaveMasks[ch][chunk] places channel
// ch of 16 pixels into 16-byte chunk `chunk` of the 48 interleaved output bytes (0x80: zero).
#include <array>
#include <cstddef>
#include <cstdint>

namespace jpeg {

using InterleaveMasks = std::array<std::array<std::array<uint8_t, 16>, 3>, 3>;

constexpr InterleaveMasks makeInterleaveMasks() {
  InterleaveMasks masks{};
  for (int ch = 0; ch < 3; ++ch)
    for (int chunk = 0; chunk < 3; ++chunk)
      for (int j = 0; j < 16; ++j) {
        const int n = 16 * chunk + j;
        masks[size_t(ch)][size_t(chunk)][size_t(j)] = n % 3 == ch ? uint8_t(n / 3) : uint8_t(0x80);
      }
  return masks;
}

inline constexpr InterleaveMasks kInterleaveMasks = makeInterleaveMasks();

}  // namespace jpeg
