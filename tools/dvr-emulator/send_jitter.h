#pragma once
// Random lateness for what the emulated DVR sends on a schedule (audio blocks, paced live
// frames): each item goes out up to maxMs after its time, uniformly. The schedule itself is
// kept by the caller and never moves, so a late item doesn't delay the ones after it and the
// rate stays real time.
#include <chrono>
#include <cstdint>
#include <random>

namespace dvremu {

class SendJitter {
 public:
  explicit SendJitter(int maxMs, uint64_t seed = std::random_device{}());

  // The lateness of the next item, 0..maxMs (always 0 when maxMs is 0).
  std::chrono::microseconds next();
  std::chrono::microseconds maximum() const { return std::chrono::milliseconds(maxMs_); }

 private:
  int maxMs_;
  std::mt19937_64 random_;
};

}  // namespace dvremu
