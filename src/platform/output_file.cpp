#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace platform {
namespace {

// Enough for every snapshot a burst of key presses can make within one second.
constexpr int kMaxNumbered = 9999;

int openRetrying(const std::string& path, int flags) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0600);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

std::string reason(int error) {
  if (error == ELOOP) return "it is a symbolic link";
  if (error == EEXIST) return "the file exists";
  return std::strerror(error);
}

}  // namespace

COutputFile::~COutputFile() {
  if (fd_ >= 0) ::close(fd_);
}

COutputFile::COutputFile(COutputFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      path_(std::move(other.path_)),
      error_(std::move(other.error_)) {}

COutputFile& COutputFile::operator=(COutputFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
    error_ = std::move(other.error_);
  }
  return *this;
}

int COutputFile::release() {
  return std::exchange(fd_, -1);
}

std::string numberedName(const std::string& path, int number) {
  const size_t slash = path.rfind('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = path.rfind('.');
  // A leading dot starts a hidden name, not an extension.
  if (dot == std::string::npos || dot <= nameStart) dot = path.size();
  return path.substr(0, dot) + "-" + std::to_string(number) + path.substr(dot);
}

COutputFile createOutputFile(const std::string& path, ExistingFile existing) {
  COutputFile file;
  file.path_ = path;
  if (existing == ExistingFile::Replace) {
    file.fd_ = openRetrying(path, O_CREAT | O_TRUNC);
  } else {
    file.fd_ = openRetrying(path, O_CREAT | O_EXCL);
    for (int number = 2; file.fd_ < 0 && errno == EEXIST && existing == ExistingFile::Numbered &&
                         number <= kMaxNumbered;
         ++number) {
      file.path_ = numberedName(path, number);
      file.fd_ = openRetrying(file.path_, O_CREAT | O_EXCL);
    }
  }
  if (file.fd_ < 0) {
    file.error_ = "cannot create " + path + ": " + reason(errno);
    file.path_ = path;
  }
  return file;
}

bool makePrivateFolder(const std::string& path) {
  if (path.empty()) return false;
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0) return S_ISDIR(status.st_mode);
  const size_t slash = path.find_last_not_of('/');
  const size_t parentEnd = slash == std::string::npos ? std::string::npos : path.rfind('/', slash);
  if (parentEnd != std::string::npos && parentEnd > 0 &&
      !makePrivateFolder(path.substr(0, parentEnd)))
    return false;
  if (::mkdir(path.c_str(), 0700) == 0) return true;
  // Another process may have made it meanwhile.
  return errno == EEXIST && ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace platform
