#pragma once
// The users HTTP basic and RTSP digest authentication admit, from a file of "user:password" lines
// (blank lines and lines starting with '#' skipped; the password is everything after the first
// colon). The file holds secrets: it should be readable by the bridge's user alone.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class CAuthUsers {
 public:
  // False with a one-line error (naming the line, never repeating its text).
  bool parse(std::string_view text, std::string* error);
  bool empty() const { return users_.empty(); }
  // Compares every entry in full, so the time taken doesn't tell how much of a guess matched.
  bool admits(std::string_view user, std::string_view password) const;
  // Every user with its password (RTSP digest authentication needs them in the clear).
  const std::vector<std::pair<std::string, std::string>>& entries() const { return users_; }

 private:
  std::vector<std::pair<std::string, std::string>> users_;
};
