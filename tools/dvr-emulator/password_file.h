#pragma once
// The configured account's password from a file's first line or from the environment, so that
// it stays out of the process list. A file others may read gets a warning.
#include <string>

namespace dvremu {

inline constexpr const char* kPasswordVariable = "DVR_EMULATOR_PASSWORD";

struct PasswordRead {
  bool ok = false;
  std::string password;
  std::string error;    // one line when !ok
  std::string warning;  // one line, or empty
};

// The first line of the file at path (without its line end).
PasswordRead readPasswordFile(const std::string& path);

}  // namespace dvremu
