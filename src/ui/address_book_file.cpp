#include "ui/address_book_file.h"

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <utility>

#include "platform/data_directory.h"

namespace addressbook {
namespace {

std::string nativePath(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

// The directory part of a path, with its trailing slash; empty for a bare name.
std::string directoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The file an update must replace: the book, or the end of the chain of symbolic links it starts
// (which need not exist yet). Empty for a chain that doesn't end.
std::string resolveLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path;
    std::string target(static_cast<size_t>(status.st_size) + 1, '\0');
    const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
    if (length < 0) return path;
    // A length that fills the buffer means the link changed under us; read it again.
    if (static_cast<size_t>(length) >= target.size()) continue;
    target.resize(static_cast<size_t>(length));
    path = target.starts_with('/') ? target : directoryOf(path) + target;
  }
  return {};
}

enum class Read { Record, End, Failed };

// Reads the book one whole record at a time.
class CBookReader {
 public:
  CBookReader(IBookFileOps& ops, const std::string& path) : ops_(ops) {
    fd_ = ops_.openForReading(path, missing_);
  }
  ~CBookReader() {
    if (fd_ >= 0) ops_.close(fd_);
  }
  CBookReader(const CBookReader&) = delete;
  CBookReader& operator=(const CBookReader&) = delete;

  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // The book doesn't exist (as opposed to existing but unreadable).
  bool isMissing() const { return missing_; }

  // End at the end of the file (a trailing partial record is ignored) and for a book that isn't
  // open; Failed on a read error.
  Read next(AddressRecord& record) {
    if (fd_ < 0) return Read::End;
    uint8_t bytes[kAddressRecordSize];
    size_t have = 0;
    while (have < sizeof bytes) {
      const ssize_t got = ops_.read(fd_, bytes + have, sizeof bytes - have);
      if (got < 0) return Read::Failed;
      if (got == 0) return Read::End;
      have += static_cast<size_t>(got);
    }
    std::memcpy(&record, bytes, sizeof bytes);
    return Read::Record;
  }

 private:
  IBookFileOps& ops_;
  int fd_ = -1;
  bool missing_ = false;
};

// Holds the writers' lock for its lifetime.
class CWriterLock {
 public:
  CWriterLock(IBookFileOps& ops, const std::string& path)
      : ops_(ops), fd_(ops.lockExclusive(path)) {}
  ~CWriterLock() {
    if (fd_ >= 0) ops_.close(fd_);
  }
  CWriterLock(const CWriterLock&) = delete;
  CWriterLock& operator=(const CWriterLock&) = delete;

  bool isHeld() const { return fd_ >= 0; }

 private:
  IBookFileOps& ops_;
  int fd_;
};

// Builds the new book in the temporary file and puts it in place. Until commit() succeeds the
// book is not touched; a failed or abandoned rewrite removes its temporary file.
class CBookRewrite {
 public:
  CBookRewrite(IBookFileOps& ops, std::string tempPath, std::string bookPath)
      : ops_(ops), tempPath_(std::move(tempPath)), bookPath_(std::move(bookPath)) {
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
  int fd() const { return fd_; }

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

// One update under the writers' lock: `copy` reads the old book and appends the new one's records;
// it returns false on a read error. A missing book counts as empty when `missingIsEmpty` is set
// and fails the update otherwise.
template <typename Copy>
bool rewriteBook(IBookFileOps& ops, bool missingIsEmpty, Copy copy) {
  const std::string book = resolveLinks(nativePath(bookPath()));
  if (book.empty()) return false;
  const std::string directory = directoryOf(book);
  const CWriterLock lock(ops, directory + kLockFileName);
  if (!lock.isHeld()) return false;
  CBookReader reader(ops, book);
  // A book that exists but can't be read is kept rather than replaced by a one-entry book.
  if (!reader.isOpen() && !(reader.isMissing() && missingIsEmpty)) return false;
  CBookRewrite rewrite(ops, directory + kTempFileName, book);
  if (!rewrite.isOpen()) return false;
  if (reader.isOpen() && !ops.copyMode(reader.fd(), rewrite.fd())) return false;
  if (!copy(reader, rewrite)) return false;
  return rewrite.commit();
}

}  // namespace

QString bookPath() {
  return platform::dataFilePath(QString::fromLatin1(kBookFileName));
}
QString tempPath() {
  return platform::dataFilePath(QString::fromLatin1(kTempFileName));
}
QString lockPath() {
  return platform::dataFilePath(QString::fromLatin1(kLockFileName));
}

std::vector<AddressEntry> loadEntries() {
  std::vector<AddressEntry> entries;
  CBookReader reader(realBookFileOps(), nativePath(bookPath()));
  AddressRecord record;
  while (entries.size() < kMaxLoadedRecords && reader.next(record) == Read::Record)
    entries.push_back(decodeAddressRecord(record));
  return entries;
}

std::optional<AddressEntry> findEntry(const QString& address) {
  const QString wanted = storedAddressForm(address);
  CBookReader reader(realBookFileOps(), nativePath(bookPath()));
  AddressRecord record;
  while (reader.next(record) == Read::Record) {
    AddressEntry entry = decodeAddressRecord(record);
    if (entry.address == wanted) return entry;
  }
  return std::nullopt;
}

bool storeEntry(const QString& address, const QString& port, const QString& userId,
                IBookFileOps& ops) {
  if (platform::ensureDataDirectory().isEmpty()) return false;
  const AddressRecord newRecord = makeAddressRecord(address, port, userId);
  const QString newAddress = decodeAddressRecord(newRecord).address;
  return rewriteBook(ops, true, [&](CBookReader& book, CBookRewrite& rewrite) {
    rewrite.append(newRecord);
    AddressRecord record;
    Read read = book.next(record);
    if (read == Read::Failed) return false;
    if (read == Read::End) {
      rewrite.append(newRecord);  // the only list entry
      return true;
    }
    // Record 0, the old last-used entry, is dropped; the list is copied unchanged.
    bool listed = false;
    while ((read = book.next(record)) == Read::Record) {
      if (decodeAddressRecord(record).address == newAddress) listed = true;
      rewrite.append(record);
    }
    if (read == Read::Failed) return false;
    if (!listed) rewrite.append(newRecord);
    return true;
  });
}

bool removeEntry(const QString& address, IBookFileOps& ops) {
  const QString wanted = storedAddressForm(address);
  return rewriteBook(ops, false, [&](CBookReader& book, CBookRewrite& rewrite) {
    bool promotePending = false;
    AddressRecord record;
    Read read;
    for (size_t index = 0; (read = book.next(record)) == Read::Record; ++index) {
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
    return read == Read::End;
  });
}

}  // namespace addressbook
