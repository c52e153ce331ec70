#pragma once
// The file calls that read and replace the address book, behind one seam so tests can make any
// step fail the way a full disk, a bad sector, a pulled battery or a read-only directory would.
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

class IBookFileOps {
 public:
  virtual ~IBookFileOps() = default;
  // Takes the writers' lock: opens the lock file (creating it when missing) and holds an exclusive
  // advisory lock on it, waiting a bounded time for another writer to finish. Returns the lock
  // file's descriptor, -1 when the lock can't be had; closing the descriptor releases the lock.
  virtual int lockExclusive(const std::string& path) = 0;
  // Opens an existing file for reading; -1 on failure, with `missing` set when it doesn't exist.
  virtual int openForReading(const std::string& path, bool& missing) = 0;
  // Reads up to `size` bytes: the count, 0 at the end of the file, -1 on an error.
  virtual ssize_t read(int fd, uint8_t* data, size_t size) = 0;
  // Creates the file afresh and opens it for writing (whatever was at the path is removed, not
  // written through); -1 on failure.
  virtual int createEmpty(const std::string& path) = 0;
  // Gives the file open as `toFd` the permission bits of the one open as `fromFd`.
  virtual bool copyMode(int fromFd, int toFd) = 0;
  // Writes all bytes or reports failure.
  virtual bool write(int fd, const uint8_t* data, size_t size) = 0;
  // Makes the written bytes durable (fsync).
  virtual bool flush(int fd) = 0;
  virtual bool close(int fd) = 0;
  // Replaces `to` by `from` in one step: afterwards `to` is either the old or the new file.
  virtual bool rename(const std::string& from, const std::string& to) = 0;
  virtual void remove(const std::string& path) = 0;
};

// The real calls (POSIX). The lock is flock(2): it belongs to the open file description, so it is
// released when its holder closes it or dies, and two opens in one process exclude each other.
class CPosixBookFileOps final : public IBookFileOps {
 public:
  // Long enough for any writer's rewrite, short enough that a stuck one never freezes the caller.
  static constexpr std::chrono::milliseconds kDefaultLockWait{2000};

  explicit CPosixBookFileOps(std::chrono::milliseconds lockWait = kDefaultLockWait)
      : lockWait_(lockWait) {}

  int lockExclusive(const std::string& path) override;
  int openForReading(const std::string& path, bool& missing) override;
  ssize_t read(int fd, uint8_t* data, size_t size) override;
  int createEmpty(const std::string& path) override;
  bool copyMode(int fromFd, int toFd) override;
  bool write(int fd, const uint8_t* data, size_t size) override;
  bool flush(int fd) override;
  bool close(int fd) override;
  bool rename(const std::string& from, const std::string& to) override;
  void remove(const std::string& path) override;

 private:
  std::chrono::milliseconds lockWait_;
};

// The shared real instance (stateless).
IBookFileOps& realBookFileOps();
