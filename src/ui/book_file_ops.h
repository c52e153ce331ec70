#pragma once
// The file calls that replace the address book, behind one seam so tests can make any step fail
// the way a full disk, a pulled battery or a read-only directory would.
#include <cstddef>
#include <cstdint>
#include <string>

class IBookFileOps {
 public:
  virtual ~IBookFileOps() = default;
  // Creates the file, or empties an existing one, and opens it for writing; -1 on failure.
  virtual int createEmpty(const std::string& path) = 0;
  // Writes all bytes or reports failure.
  virtual bool write(int fd, const uint8_t* data, size_t size) = 0;
  // Makes the written bytes durable (fsync).
  virtual bool flush(int fd) = 0;
  virtual bool close(int fd) = 0;
  // Replaces `to` by `from` in one step: afterwards `to` is either the old or the new file.
  virtual bool rename(const std::string& from, const std::string& to) = 0;
  virtual void remove(const std::string& path) = 0;
};

// The real calls (POSIX).
class CPosixBookFileOps final : public IBookFileOps {
 public:
  int createEmpty(const std::string& path) override;
  bool write(int fd, const uint8_t* data, size_t size) override;
  bool flush(int fd) override;
  bool close(int fd) override;
  bool rename(const std::string& from, const std::string& to) override;
  void remove(const std::string& path) override;
};

// The shared real instance (stateless).
IBookFileOps& realBookFileOps();
