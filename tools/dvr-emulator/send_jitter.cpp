#include "send_jitter.h"

#include <algorithm>

namespace dvremu {

SendJitter::SendJitter(int maxMs, uint64_t seed) : maxMs_(std::max(0, maxMs)), random_(seed) {}

std::chrono::microseconds SendJitter::next() {
  if (maxMs_ == 0) return std::chrono::microseconds(0);
  std::uniform_int_distribution<int64_t> lateness(0, int64_t(maxMs_) * 1000);
  return std::chrono::microseconds(lateness(random_));
}

}  // namespace dvremu
