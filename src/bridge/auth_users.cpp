#include "bridge/auth_users.h"

namespace {

constexpr size_t kMaxField = 256;

// Equal in time that depends on the lengths only.
bool sameText(std::string_view a, std::string_view b) {
  unsigned difference = a.size() == b.size() ? 0u : 1u;
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  return difference == 0;
}

}  // namespace

bool CAuthUsers::parse(std::string_view text, std::string* error) {
  users_.clear();
  int lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const auto newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    const auto colon = line.find(':');
    const auto bad = [&](const char* why) {
      users_.clear();
      *error = "line " + std::to_string(lineNumber) + ": " + why;
      return false;
    };
    if (colon == std::string_view::npos || colon == 0) return bad("expected 'user:password'");
    if (colon + 1 == line.size()) return bad("the password is empty");
    if (colon > kMaxField || line.size() - colon - 1 > kMaxField) return bad("too long");
    users_.emplace_back(std::string(line.substr(0, colon)), std::string(line.substr(colon + 1)));
  }
  if (users_.empty()) {
    *error = "no users";
    return false;
  }
  return true;
}

bool CAuthUsers::admits(std::string_view user, std::string_view password) const {
  bool admitted = false;
  for (const auto& [name, secret] : users_) {
    const bool match = sameText(name, user) & sameText(secret, password);
    admitted = admitted || match;
  }
  return admitted;
}
