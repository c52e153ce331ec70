// Arbitrary bytes as the address book file: loading, finding, and an update and a removal on top
// of it. After the update the stored entry must be the last-used one, and a removal must leave it
// out. The durability call is skipped (it only slows the target down).
#include <QDir>
#include <QFile>

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/data_directory.h"
#include "ui/address_book_file.h"
#include "ui/book_file_ops.h"

namespace {
class CFastOps final : public IBookFileOps {
 public:
  int lockExclusive(const std::string& path) override { return real_.lockExclusive(path); }
  int openForReading(const std::string& path, bool& missing) override {
    return real_.openForReading(path, missing);
  }
  ssize_t read(int fd, uint8_t* data, size_t size) override { return real_.read(fd, data, size); }
  int createEmpty(const std::string& path) override { return real_.createEmpty(path); }
  bool copyMode(int fromFd, int toFd) override { return real_.copyMode(fromFd, toFd); }
  bool write(int fd, const uint8_t* data, size_t size) override {
    return real_.write(fd, data, size);
  }
  bool flush(int) override { return true; }
  bool close(int fd) override { return real_.close(fd); }
  bool rename(const std::string& from, const std::string& to) override {
    return real_.rename(from, to);
  }
  void remove(const std::string& path) override { real_.remove(path); }

 private:
  CPosixBookFileOps real_;
};

void useScratchDirectory() {
  static const bool done = [] {
    const QString base =
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    const QString path = base + QStringLiteral("/fuzz-book-") + QString::number(::getpid());
    QDir().mkpath(path);
    platform::setDataDirectoryOverride(path);
    return true;
  }();
  (void)done;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Books beyond the load limit only cost time.
  if (size > 64 * 1024) return 0;
  useScratchDirectory();
  {
    QFile book(addressbook::bookPath());
    if (!book.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
    book.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
  }
  const auto entries = addressbook::loadEntries();
  if (entries.size() > addressbook::kMaxLoadedRecords) std::abort();
  if (!entries.empty()) (void)addressbook::findEntry(entries.back().address);

  CFastOps ops;
  const QString address = QStringLiteral("fuzz.example");
  if (!addressbook::storeEntry(address, QStringLiteral("9000"), QStringLiteral("u"), ops)) return 0;
  const auto stored = addressbook::loadEntries();
  if (stored.empty() || stored.front().address != address) std::abort();
  if (addressbook::removeEntry(address, ops)) {
    for (const auto& entry : addressbook::loadEntries()) {
      if (entry.address == address) std::abort();
    }
  }
  return 0;
}
