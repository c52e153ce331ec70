#pragma once
// Where a --connect run gets its password: the first line of a file, else PELLOXVIEW_PASSWORD.
// The file is read once; one that others may read gets a warning.
#include <string>
#include <string_view>

struct PasswordResult {
  bool ok = false;
  std::string password;
  std::string error;    // one line when !ok
  std::string warning;  // one line, or empty
};

// path empty: the environment variable.
PasswordResult readPassword(const std::string& path);

// Why a user ID or password can't go into a DVR login (1..32 printable ASCII bytes); empty when
// it can. Never repeats the text.
std::string loginTextProblem(std::string_view text);
