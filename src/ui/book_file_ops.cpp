#include "ui/book_file_ops.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <thread>

int CPosixBookFileOps::lockExclusive(const std::string& path) {
  int fd;
  do {
    // Never through a link: one planted in a shared folder would create or lock a file
    // elsewhere. The lock file stays in place between writers, so a link there is refused, not
    // replaced (replacing it would let two writers hold locks on different files).
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  // Polled rather than blocking, so the wait has an end.
  const auto deadline = std::chrono::steady_clock::now() + lockWait_;
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ::close(fd);
  return -1;
}

int CPosixBookFileOps::openForReading(const std::string& path, bool& missing) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  missing = fd < 0 && errno == ENOENT;
  return fd;
}

ssize_t CPosixBookFileOps::read(int fd, uint8_t* data, size_t size) {
  ssize_t got;
  do {
    got = ::read(fd, data, size);
  } while (got < 0 && errno == EINTR);
  return got;
}

bool CPosixBookFileOps::copyMode(int fromFd, int toFd) {
  struct stat from {};
  return ::fstat(fromFd, &from) == 0 && ::fchmod(toFd, from.st_mode & 07777) == 0;
}

int CPosixBookFileOps::createEmpty(const std::string& path) {
  // Only a file this call creates is written: whatever sits at the path (a stale temporary file,
  // a link planted in a shared folder) is unlinked, never opened through. Another writer racing
  // for the name gets a few tries before the update gives up.
  for (int attempt = 0; attempt < 3; ++attempt) {
    int fd;
    do {
      fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0 || errno != EEXIST) return fd;
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return -1;
  }
  return -1;
}

bool CPosixBookFileOps::write(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

bool CPosixBookFileOps::flush(int fd) {
  return ::fsync(fd) == 0;
}

bool CPosixBookFileOps::close(int fd) {
  return ::close(fd) == 0;
}

bool CPosixBookFileOps::rename(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) != 0) return false;
  // Make the new directory entry durable too; the book is already replaced, so a failure here
  // changes nothing for the caller.
  const size_t slash = to.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : to.substr(0, slash + 1);
  const int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

void CPosixBookFileOps::remove(const std::string& path) {
  ::unlink(path.c_str());
}

IBookFileOps& realBookFileOps() {
  static CPosixBookFileOps ops;
  return ops;
}
