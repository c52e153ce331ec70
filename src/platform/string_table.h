#pragma once
// The system's string-table messages, by id.
#include <QString>

#include <cstdint>

namespace strings {
inline constexpr uint32_t kAdminLoggedIn = 32774;
inline constexpr uint32_t kTooManyUsers = 32775;
inline constexpr uint32_t kAccountRefused = 32776;
inline constexpr uint32_t kInvalidPassword = 32777;
inline constexpr uint32_t kLocalConnecting = 32778;
inline constexpr uint32_t kUserInSetup = 32779;
inline constexpr uint32_t kSameUserLoggedIn = 32780;
inline constexpr uint32_t kInvalidDomain = 32793;

// The text of a string-table message; empty for an unknown id.
QString load(uint32_t id);
}  // namespace strings
