#include "app/password_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "protocol/message_header.h"

namespace {
constexpr size_t kMaxPasswordFile = 4096;
}

std::string loginTextProblem(std::string_view text) {
  const std::string carries = " (a DVR login carries 1 to " + std::to_string(kCredentialFieldSize) +
                              " printable ASCII characters)";
  if (text.empty()) return "it is empty" + carries;
  if (text.size() > kCredentialFieldSize)
    return "it is longer than " + std::to_string(kCredentialFieldSize) + " bytes" + carries;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == 0) return "it holds a NUL byte" + carries;
    if (byte >= 0x80) return "it holds a non-ASCII byte" + carries;
    if (byte < 0x20 || byte == 0x7F) return "it holds a control character" + carries;
  }
  return {};
}

PasswordResult readPassword(const std::string& path) {
  PasswordResult result;
  if (path.empty()) {
    const char* fromEnvironment = std::getenv("PELLOXVIEW_PASSWORD");
    if (fromEnvironment == nullptr || *fromEnvironment == '\0') {
      result.error = "no password: use --password-file FILE or set PELLOXVIEW_PASSWORD";
      return result;
    }
    if (const std::string why = loginTextProblem(fromEnvironment); !why.empty()) {
      result.error = "the password in PELLOXVIEW_PASSWORD can't be used: " + why;
      return result;
    }
    result.password = fromEnvironment;
    result.ok = true;
    return result;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    result.error = "cannot read password file '" + path + "': " + std::strerror(errno);
    return result;
  }
  struct stat info {};
  if (::fstat(fd, &info) == 0 && (info.st_mode & (S_IRGRP | S_IROTH)) != 0) {
    result.warning = "password file '" + path + "' can be read by other users (chmod 600 it)";
  }
  std::array<char, kMaxPasswordFile> buffer{};
  size_t filled = 0;
  while (filled < buffer.size()) {
    const ssize_t got = ::read(fd, buffer.data() + filled, buffer.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      result.error = "cannot read password file '" + path + "': " + std::strerror(errno);
      ::close(fd);
      return result;
    }
    if (got == 0) break;
    filled += static_cast<size_t>(got);
  }
  ::close(fd);
  std::string text(buffer.data(), filled);
  std::memset(buffer.data(), 0, buffer.size());
  const size_t end = text.find_first_of("\r\n");
  if (end != std::string::npos) text.resize(end);
  if (text.empty()) {
    result.error = "password file '" + path + "' holds no password on its first line";
    return result;
  }
  if (const std::string why = loginTextProblem(text); !why.empty()) {
    std::fill(text.begin(), text.end(), '\0');
    result.error = "the password in '" + path + "' can't be used: " + why;
    return result;
  }
  result.password = std::move(text);
  result.ok = true;
  return result;
}
