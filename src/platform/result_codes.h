#pragma once
// Result codes of operations on the protocol path: 0 for success, E_FAIL for failure;
// callers treat any negative value as failure.
#include <cstdint>

inline constexpr int32_t S_DONE = 0;
inline constexpr int32_t E_FAIL = static_cast<int32_t>(0x80004005u);

inline constexpr bool failed(int32_t result) {
  return result < 0;
}
