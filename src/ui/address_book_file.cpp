#include "ui/address_book_file.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/data_directory.h"

namespace addressbook {
namespace {

std::string nativePath(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

// Reads the book one whole record at a time.
class CBookReader {
 public:
  explicit CBookReader(const QString& path) {
    do {
      fd_ = ::open(nativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd_ < 0 && errno == EINTR);
    missing_ = fd_ < 0 && errno == ENOENT;
  }
  ~CBookReader() {
    if (fd_ >= 0) ::close(fd_);
  }
  CBookReader(const CBookReader&) = delete;
  CBookReader& operator=(const CBookReader&) = delete;

  bool isOpen() const { return fd_ >= 0; }
  // The book doesn't exist (as opposed to existing but unreadable).
  bool isMissing() const { return missing_; }

  // False at the end of the file, at a trailing partial record, or on a read error.
  bool next(AddressRecord& record) {
    if (fd_ < 0) return false;
    uint8_t bytes[kAddressRecordSize];
    size_t have = 0;
    while (have < sizeof bytes) {
      const ssize_t got = ::read(fd_, bytes + have, sizeof bytes - have);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      have += static_cast<size_t>(got);
    }
    std::memcpy(&record, bytes, sizeof bytes);
    return true;
  }

 private:
  int fd_ = -1;
  bool missing_ = false;
};

// Builds the new book in the temporary file and puts it in place. Until commit() succeeds the
// book is not touched; a failed or abandoned rewrite removes its temporary file.
class CBookRewrite {
 public:
  explicit CBookRewrite(IBookFileOps& ops)
      : ops_(ops), tempPath_(nativePath(tempPath())), bookPath_(nativePath(bookPath())) {
    // Truncating on open also empties a temporary file left by an interrupted update.
    fd_ = ops_.createEmpty(tempPath_);
    ok_ = created_ = fd_ >= 0;
  }
  ~CBookRewrite() {
    if (fd_ >= 0) ops_.close(fd_);
    if (created_ && !committed_) ops_.remove(tempPath_);
  }
  CBookRewrite(const CBookRewrite&) = delete;
  CBookRewrite& operator=(const CBookRewrite&) = delete;

  bool isOpen() const { return fd_ >= 0; }

  void append(const AddressRecord& record) {
    if (ok_) ok_ = ops_.write(fd_, reinterpret_cast<const uint8_t*>(&record), sizeof record);
  }

  // Flush, close, rename; true when the book has been replaced.
  bool commit() {
    if (fd_ < 0) return false;
    if (ok_) ok_ = ops_.flush(fd_);
    const bool closed = ops_.close(fd_);
    fd_ = -1;
    ok_ = ok_ && closed;
    if (ok_) ok_ = ops_.rename(tempPath_, bookPath_);
    committed_ = ok_;
    return ok_;
  }

 private:
  IBookFileOps& ops_;
  std::string tempPath_;
  std::string bookPath_;
  int fd_ = -1;
  bool ok_ = false;
  bool created_ = false;
  bool committed_ = false;
};

}  // namespace

QString bookPath() {
  return platform::dataFilePath(QString::fromLatin1(kBookFileName));
}
QString tempPath() {
  return platform::dataFilePath(QString::fromLatin1(kTempFileName));
}

std::vector<AddressEntry> loadEntries() {
  std::vector<AddressEntry> entries;
  CBookReader reader(bookPath());
  AddressRecord record;
  while (entries.size() < kMaxLoadedRecords && reader.next(record))
    entries.push_back(decodeAddressRecord(record));
  return entries;
}

std::optional<AddressEntry> findEntry(const QString& address) {
  const QString wanted = storedAddressForm(address);
  CBookReader reader(bookPath());
  AddressRecord record;
  while (reader.next(record)) {
    AddressEntry entry = decodeAddressRecord(record);
    if (entry.address == wanted) return entry;
  }
  return std::nullopt;
}

bool storeEntry(const QString& address, const QString& port, const QString& userId,
                IBookFileOps& ops) {
  if (platform::ensureDataDirectory().isEmpty()) return false;
  CBookReader book(bookPath());
  // A book that exists but can't be read is kept rather than replaced by a one-entry book.
  if (!book.isOpen() && !book.isMissing()) return false;
  CBookRewrite rewrite(ops);
  if (!rewrite.isOpen()) return false;

  const AddressRecord newRecord = makeAddressRecord(address, port, userId);
  const QString newAddress = decodeAddressRecord(newRecord).address;
  rewrite.append(newRecord);

  AddressRecord record;
  if (!book.next(record)) {
    rewrite.append(newRecord);  // the only list entry
    return rewrite.commit();
  }
  // Record 0, the old last-used entry, is dropped; the list is copied unchanged.
  bool listed = false;
  while (book.next(record)) {
    if (decodeAddressRecord(record).address == newAddress) listed = true;
    rewrite.append(record);
  }
  if (!listed) rewrite.append(newRecord);
  return rewrite.commit();
}

bool removeEntry(const QString& address, IBookFileOps& ops) {
  CBookReader book(bookPath());
  if (!book.isOpen()) return false;
  CBookRewrite rewrite(ops);
  if (!rewrite.isOpen()) return false;

  const QString wanted = storedAddressForm(address);
  bool promotePending = false;
  AddressRecord record;
  for (size_t index = 0; book.next(record); ++index) {
    if (decodeAddressRecord(record).address == wanted) {
      if (index == 0) promotePending = true;
      continue;
    }
    rewrite.append(record);
    if (promotePending) {
      rewrite.append(record);  // the new last-used entry
      promotePending = false;
    }
  }
  return rewrite.commit();
}

}  // namespace addressbook
