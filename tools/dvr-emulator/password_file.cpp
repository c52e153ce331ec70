#include "password_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "socket_io.h"

namespace dvremu {
namespace {
constexpr size_t kMaxPasswordFile = 4096;
}

PasswordRead readPasswordFile(const std::string& path) {
  PasswordRead result;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd.valid()) {
    result.error = "cannot read password file '" + path + "': " + std::strerror(errno);
    return result;
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    result.error = "password file '" + path + "' is not a regular file";
    return result;
  }
  if ((info.st_mode & (S_IRGRP | S_IROTH)) != 0)
    result.warning = "password file '" + path + "' can be read by other users (chmod 600 it)";
  std::array<char, kMaxPasswordFile> buffer{};
  size_t filled = 0;
  while (filled < buffer.size()) {
    const ssize_t got = ::read(fd.get(), buffer.data() + filled, buffer.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      result.error = "cannot read password file '" + path + "': " + std::strerror(errno);
      return result;
    }
    if (got == 0) break;
    filled += static_cast<size_t>(got);
  }
  std::string text(buffer.data(), filled);
  std::memset(buffer.data(), 0, buffer.size());
  const size_t end = text.find_first_of("\r\n");
  if (end != std::string::npos) text.resize(end);
  if (text.empty()) {
    result.error = "password file '" + path + "' holds no password on its first line";
    return result;
  }
  result.password = std::move(text);
  result.ok = true;
  return result;
}

}  // namespace dvremu
