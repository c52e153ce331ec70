// Arbitrary bytes as the address book: loading and finding from the real file, then a store and a
// removal on top of it through in-memory file calls that hand out the book in short reads. Each
// result is checked against a plain model of the book's rules, byte for byte.
//
// The first input byte steers the run (read size, which record's address is stored and removed);
// the rest is the book. Books are kept to a few records: every record takes the same paths, and
// small books keep the target well above a thousand runs a second.
#include <QDir>
#include <QFile>

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/data_directory.h"
#include "ui/address_book_file.h"
#include "ui/book_file_ops.h"

namespace {

constexpr size_t kMaxRecords = 16;
using Bytes = std::vector<uint8_t>;

// Files in memory; reads return at most `chunk` bytes at a time.
class CMemoryBookOps final : public IBookFileOps {
 public:
  CMemoryBookOps(std::string bookPath, Bytes book, size_t chunk) : chunk_(chunk) {
    files_[std::move(bookPath)] = std::move(book);
  }

  int lockExclusive(const std::string&) override { return openAs({}); }
  int openForReading(const std::string& path, bool& missing) override {
    missing = files_.count(path) == 0;
    return missing ? -1 : openAs(path);
  }
  ssize_t read(int fd, uint8_t* data, size_t size) override {
    auto open = open_.find(fd);
    if (open == open_.end()) std::abort();
    const Bytes& file = files_.at(open->second.path);
    const size_t count = std::min({size, chunk_, file.size() - open->second.position});
    if (count > 0) std::memcpy(data, file.data() + open->second.position, count);  // empty: null
    open->second.position += count;
    return static_cast<ssize_t>(count);
  }
  int createEmpty(const std::string& path) override {
    files_[path].clear();
    return openAs(path);
  }
  bool copyMode(int, int) override { return true; }
  bool write(int fd, const uint8_t* data, size_t size) override {
    Bytes& file = files_.at(open_.at(fd).path);
    file.insert(file.end(), data, data + size);
    return true;
  }
  bool flush(int) override { return true; }
  bool close(int fd) override { return open_.erase(fd) == 1; }
  bool rename(const std::string& from, const std::string& to) override {
    auto source = files_.find(from);
    if (source == files_.end()) return false;
    Bytes moved = std::move(source->second);
    files_.erase(source);
    files_[to] = std::move(moved);
    return true;
  }
  void remove(const std::string& path) override { files_.erase(path); }

  const Bytes* file(const std::string& path) const {
    auto found = files_.find(path);
    return found == files_.end() ? nullptr : &found->second;
  }
  bool allClosed() const { return open_.empty(); }

 private:
  struct Open {
    std::string path;
    size_t position = 0;
  };
  int openAs(std::string path) {
    open_[nextFd_] = Open{std::move(path)};
    return nextFd_++;
  }

  size_t chunk_;
  std::map<std::string, Bytes> files_;
  std::map<int, Open> open_;
  int nextFd_ = 3;
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

std::vector<AddressRecord> wholeRecords(const uint8_t* data, size_t size) {
  std::vector<AddressRecord> records(size / kAddressRecordSize);
  for (size_t i = 0; i < records.size(); ++i)
    std::memcpy(&records[i], data + i * kAddressRecordSize, kAddressRecordSize);
  return records;
}

Bytes bytesOf(const std::vector<AddressRecord>& records) {
  Bytes bytes(records.size() * kAddressRecordSize);
  if (!records.empty()) std::memcpy(bytes.data(), records.data(), bytes.size());
  return bytes;
}

// The book after storing `added`: it becomes record 0 and joins the list when not listed yet.
Bytes bookAfterStore(const std::vector<AddressRecord>& old, const AddressRecord& added) {
  std::vector<AddressRecord> book{added};
  if (old.empty()) return bytesOf({added, added});
  const QString address = decodeAddressRecord(added).address;
  bool listed = false;
  for (size_t i = 1; i < old.size(); ++i) {
    listed = listed || decodeAddressRecord(old[i]).address == address;
    book.push_back(old[i]);
  }
  if (!listed) book.push_back(added);
  return bytesOf(book);
}

// The book after removing `address`: when record 0 goes, the first remaining record is doubled.
Bytes bookAfterRemove(const std::vector<AddressRecord>& old, const QString& address) {
  std::vector<AddressRecord> book;
  bool promote = false;
  for (size_t i = 0; i < old.size(); ++i) {
    if (decodeAddressRecord(old[i]).address == address) {
      promote = promote || i == 0;
      continue;
    }
    book.push_back(old[i]);
    if (promote) {
      book.push_back(old[i]);
      promote = false;
    }
  }
  return bytesOf(book);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 1 + kMaxRecords * kAddressRecordSize + kAddressRecordSize - 1) return 0;
  useScratchDirectory();
  const uint8_t steer = data[0];
  const uint8_t* bookData = data + 1;
  const size_t bookSize = size - 1;
  const std::vector<AddressRecord> old = wholeRecords(bookData, bookSize);

  // The real reader on the real file: every whole record, in order; a partial tail is ignored.
  const std::string bookPath = QFile::encodeName(addressbook::bookPath()).toStdString();
  {
    QFile book(addressbook::bookPath());
    if (!book.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
    book.write(reinterpret_cast<const char*>(bookData), static_cast<qint64>(bookSize));
  }
  const auto entries = addressbook::loadEntries();
  if (entries.size() != old.size()) std::abort();
  for (size_t i = 0; i < old.size(); ++i) {
    if (!(entries[i] == decodeAddressRecord(old[i]))) std::abort();
  }

  // Store and remove an address the book holds (or a new one), to reach the "listed" paths.
  QString address = QStringLiteral("fuzz.example");
  const bool fromBook = !old.empty() && (steer & 0x80) == 0;
  if (fromBook) address = decodeAddressRecord(old[(steer >> 4) % old.size()]).address;
  // A foreign record may hold an address no dialog can type (no NUL, broken UTF-8); only the
  // addresses the book can store must be found.
  if (fromBook && storedAddressForm(address) == address) {
    const auto found = addressbook::findEntry(address);
    if (!found || found->address != address) std::abort();
  }

  const size_t chunk = size_t(steer & 0x0f) * 9 + 1;
  const Bytes original(bookData, bookData + bookSize);
  {
    CMemoryBookOps ops(bookPath, original, chunk);
    const AddressRecord added =
        makeAddressRecord(address, QStringLiteral("9000"), QStringLiteral("u"));
    if (!addressbook::storeEntry(address, QStringLiteral("9000"), QStringLiteral("u"), ops))
      std::abort();
    const Bytes* stored = ops.file(bookPath);
    if (stored == nullptr || *stored != bookAfterStore(old, added) || !ops.allClosed())
      std::abort();
  }
  {
    CMemoryBookOps ops(bookPath, original, chunk);
    if (!addressbook::removeEntry(address, ops)) std::abort();
    const Bytes* left = ops.file(bookPath);
    const QString wanted = storedAddressForm(address);
    if (left == nullptr || *left != bookAfterRemove(old, wanted) || !ops.allClosed()) std::abort();
  }
  return 0;
}
