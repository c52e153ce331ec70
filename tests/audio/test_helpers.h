#pragma once
// Small helpers shared by the audio tests.
#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/message_window.h"

// Runs the event loop long enough for posted notifications to arrive.
inline void pump() {
  platform::processMessagesUntil([] { return false; }, 20);
}

inline std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline std::vector<uint8_t> randomBytes(size_t n, uint32_t seed, uint8_t mask = 0xFF) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(n);
  for (auto& b : out) b = static_cast<uint8_t>(rng() & mask);
  return out;
}
