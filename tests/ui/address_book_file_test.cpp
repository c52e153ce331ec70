// The address book file: the bytes of every kind of update, fields that don't fit, foreign bytes,
// updates cut short at every step, which leave either the old book or the new one, and books that
// are links or carry their own permissions.
#include "ui/address_book_file.h"

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "book_fixture.h"

namespace {

using AddressBookFile = BookFixture;

// One book taken through every kind of update, checked on its bytes after each.
TEST_F(AddressBookFile, UpdatesProduceTheExpectedBytes) {
  platform::setDataDirectoryOverride(dir_.path() + "/nested/dir");  // created by the first store
  EXPECT_TRUE(addressbook::loadEntries().empty());
  EXPECT_FALSE(addressbook::removeEntry("10.0.0.5"));  // no book: nothing to change
  EXPECT_FALSE(exists(addressbook::bookPath()));
  EXPECT_FALSE(exists(addressbook::tempPath()));

  const QByteArray lower = recordBytes("dvr.example", "9000", "admin");
  const QByteArray upper = recordBytes("DVR.example", "9000", "admin");
  const QByteArray k5Http = recordBytes("10.0.0.5", "http", "admin");
  struct Case {
    const char* what;
    bool store;
    QString address, port;
    QByteArray expected;
  };
  const auto run = [](std::initializer_list<Case> cases) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      const QString user = c.address == "10.0.0.9" ? "guest" : "admin";
      ASSERT_TRUE(c.store ? addressbook::storeEntry(c.address, c.port, user)
                          : addressbook::removeEntry(c.address));
      EXPECT_EQ(book(), c.expected);
      EXPECT_EQ(addressbook::loadEntries().size(), static_cast<size_t>(c.expected.size() / 70));
      EXPECT_TRUE(exists(addressbook::bookPath()));
      EXPECT_FALSE(exists(addressbook::tempPath()));
    }
  };
  run({{"first store: last-used and the only list entry", true, "10.0.0.5", "9000", k5 + k5},
       {"second address", true, "10.0.0.7", "9000", k7 + k5 + k7},
       {"same address, new port: only record 0 changes", true, "10.0.0.5", "9100",
        k5New + k5 + k7}});
  // Record 0 is found first; the comparison is exact.
  EXPECT_EQ(addressbook::findEntry("10.0.0.5")->port, "9100");
  EXPECT_EQ(addressbook::findEntry("10.0.0.7")->port, "9000");
  EXPECT_FALSE(addressbook::findEntry("10.0.0.").has_value());
  EXPECT_FALSE(addressbook::findEntry("10.0.0.5 ").has_value());
  const std::vector<AddressEntry> entries = addressbook::loadEntries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0], (AddressEntry{"10.0.0.5", "9100", "admin"}));
  EXPECT_EQ(entries[2], (AddressEntry{"10.0.0.7", "9000", "admin"}));

  run({{"third address", true, "10.0.0.9", "80", k9 + k5 + k7 + k9},
       {"remove another address", false, "10.0.0.7", "", k9 + k5 + k9},
       {"remove an address that is not there", false, "10.0.0.1", "", k9 + k5 + k9},
       {"remove the last-used: first remaining promoted", false, "10.0.0.9", "", k5 + k5},
       {"remove the last one: an empty book", false, "10.0.0.5", "", QByteArray()},
       {"non-numeric port stored as typed", true, "10.0.0.5", "http", k5Http + k5Http},
       {"case-sensitive addresses", true, "dvr.example", "9000", lower + k5Http + lower},
       {"case-sensitive addresses", true, "DVR.example", "9000", upper + k5Http + lower + upper}});
}

TEST_F(AddressBookFile, LongFieldsAreCutAtACharacterBoundaryInsideTheirField) {
  // 38 ASCII bytes then a two-byte character: only 39 bytes fit, so the character is left out.
  const QString address = QString(38, 'a') + QChar(0x00E9) + "tail";
  const QString userId = QString(18, 'u') + QChar(0x20AC);  // a three-byte character at byte 18
  ASSERT_TRUE(addressbook::storeEntry(address, "1234567890123", userId));
  const QByteArray expected = recordBytes(std::string(38, 'a'), "123456789", std::string(18, 'u'));
  EXPECT_EQ(book(), expected + expected);

  // The same long address again is recognised as listed, so the list doesn't grow.
  ASSERT_TRUE(addressbook::storeEntry(address, "1", "x"));
  EXPECT_EQ(book().size(), 140);
  EXPECT_EQ(addressbook::findEntry(address)->port, "1");
  ASSERT_TRUE(addressbook::removeEntry(address));
  EXPECT_EQ(book().size(), 0);
}

TEST_F(AddressBookFile, ForeignBytesAndAPartialRecordAreReadSafely) {
  QByteArray garbage(70 * 2 + 13, '\xFF');  // no NUL anywhere, and 13 bytes left over
  garbage[75] = 'Z';
  setBook(garbage);
  const std::vector<AddressEntry> entries = addressbook::loadEntries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_FALSE(entries[0].address.isEmpty());

  // An update copies the whole list record unchanged and drops the partial one.
  ASSERT_TRUE(addressbook::storeEntry("10.0.0.5", "9000", "admin"));
  EXPECT_EQ(book(), k5 + garbage.mid(70, 70) + k5);
}

using CrashSafety = BookFixture;

TEST_F(CrashSafety, AFailedUpdateLeavesTheOldBookAndTheNextUpdateIsExact) {
  const struct {
    Step step;
    bool crash;
    const char* what;
  } faults[] = {{Step::Lock, false, "lock not had"},    {Step::Create, false, "create fails"},
                {Step::Write, false, "write fails"},    {Step::Write, true, "crash in write"},
                {Step::Flush, false, "flush fails"},    {Step::Flush, true, "crash in flush"},
                {Step::Close, false, "close fails"},    {Step::Rename, false, "rename fails"},
                {Step::Rename, true, "crash in rename"}};
  const QByteArray old = k7 + k5 + k7;
  for (const auto& fault : faults) {
    SCOPED_TRACE(fault.what);
    const bool tempLeft = fault.crash && fault.step != Step::Create;
    // A failed first store leaves no book at all.
    QFile::remove(addressbook::bookPath());
    FaultyFileOps first(fault.step, fault.crash);
    EXPECT_FALSE(addressbook::storeEntry("10.0.0.5", "9000", "admin", first));
    EXPECT_FALSE(exists(addressbook::bookPath()));
    EXPECT_EQ(exists(addressbook::tempPath()), tempLeft);

    setBook(old);
    FaultyFileOps store(fault.step, fault.crash);
    EXPECT_FALSE(addressbook::storeEntry("10.0.0.9", "80", "guest", store));
    EXPECT_EQ(book(), old);
    FaultyFileOps remove(fault.step, fault.crash);
    EXPECT_FALSE(addressbook::removeEntry("10.0.0.7", remove));
    EXPECT_EQ(book(), old);
    EXPECT_EQ(exists(addressbook::tempPath()), tempLeft);

    // Whatever the interrupted update left in the temporary file never reaches the book.
    ASSERT_TRUE(addressbook::storeEntry("10.0.0.9", "80", "guest"));
    EXPECT_EQ(book(), k9 + k5 + k7 + k9);
    EXPECT_FALSE(exists(addressbook::tempPath()));
  }
}

TEST_F(CrashSafety, AStaleTemporaryFileIsEmptiedBeforeUse) {
  setBook(k7 + k5 + k7);
  writeAll(addressbook::tempPath(), k9 + k9 + QByteArray(31, 'x'));
  ASSERT_TRUE(addressbook::removeEntry("10.0.0.5"));
  EXPECT_EQ(book(), k7 + k7);
  writeAll(addressbook::tempPath(), k9 + k9);
  ASSERT_TRUE(addressbook::storeEntry("10.0.0.5", "9000", "admin"));
  EXPECT_EQ(book(), k5 + k7 + k5);
}

TEST_F(CrashSafety, ABookThatCanNotBeReadIsNotReplaced) {
  // A directory in the book's place: it opens but yields no records, and can't be replaced.
  ASSERT_TRUE(QDir(dir_.path()).mkdir(addressbook::kBookFileName));
  EXPECT_FALSE(addressbook::storeEntry("10.0.0.5", "9000", "admin"));
  EXPECT_TRUE(QFileInfo(addressbook::bookPath()).isDir());
  EXPECT_FALSE(exists(addressbook::tempPath()));
}

// A bad sector after record 0, or a mode that can't be carried over: the update fails and the book
// keeps every byte, where treating the error as the end would have cut the list short.
TEST_F(CrashSafety, AReadErrorInsideTheBookOrALostModeLeavesItByteIdentical) {
  const QByteArray old = k7 + k5 + k9 + k7;
  setBook(old);
  for (Step step : {Step::Read, Step::Mode}) {
    SCOPED_TRACE(static_cast<int>(step));
    FaultyFileOps store(step), remove(step);
    EXPECT_FALSE(addressbook::storeEntry("10.0.0.6", "80", "guest", store));
    EXPECT_FALSE(addressbook::removeEntry("10.0.0.9", remove));
    EXPECT_EQ(book(), old);
    EXPECT_FALSE(exists(addressbook::tempPath()));
  }
}

using BookFileSystem = BookFixture;

// Someone who can write to the data folder plants the temporary file's name as a link (or a hard
// link) to a file of the user's: the update never writes through it, and the book stays a file.
TEST_F(BookFileSystem, APlantedTemporaryFileIsReplacedNotWrittenThrough) {
  ASSERT_TRUE(QDir(dir_.path()).mkpath("elsewhere"));
  const QString victim = dir_.path() + "/elsewhere/precious";
  for (const bool hard : {false, true}) {
    SCOPED_TRACE(hard ? "hard link" : "symbolic link");
    writeAll(victim, "keep me");
    QFile::remove(addressbook::tempPath());
    const std::string from = QFile::encodeName(victim).toStdString();
    const std::string to = QFile::encodeName(addressbook::tempPath()).toStdString();
    ASSERT_EQ(hard ? ::link(from.c_str(), to.c_str()) : ::symlink(from.c_str(), to.c_str()), 0);
    setBook(k7 + k7);
    ASSERT_TRUE(addressbook::storeEntry("10.0.0.5", "9000", "admin"));
    EXPECT_EQ(book(), k5 + k7 + k5);
    EXPECT_FALSE(QFileInfo(addressbook::bookPath()).isSymLink());
    EXPECT_FALSE(exists(addressbook::tempPath()));
    QFile file(victim);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "keep me");
  }
}

// A link planted as the lock file is refused: the book stays as it was and nothing is created
// where the link points.
TEST_F(BookFileSystem, APlantedLockLinkIsRefusedNotFollowed) {
  ASSERT_TRUE(QDir(dir_.path()).mkpath("elsewhere"));
  const QString target = dir_.path() + "/elsewhere/created-through-the-link";
  setBook(k7 + k7);
  QFile::remove(addressbook::lockPath());
  ASSERT_EQ(::symlink(QFile::encodeName(target).constData(),
                      QFile::encodeName(addressbook::lockPath()).constData()),
            0);
  EXPECT_FALSE(addressbook::storeEntry("10.0.0.5", "9000", "admin"));
  EXPECT_EQ(book(), k7 + k7);
  EXPECT_FALSE(exists(target));
  // With the link gone the next update goes through.
  ASSERT_TRUE(QFile::remove(addressbook::lockPath()));
  EXPECT_TRUE(addressbook::storeEntry("10.0.0.5", "9000", "admin"));
  EXPECT_EQ(book(), k5 + k7 + k5);
}

TEST_F(BookFileSystem, AnUpdateKeepsTheBooksPermissionsAndANewBookIsPrivate) {
  const std::string path = QFile::encodeName(addressbook::bookPath()).toStdString();
  const auto mode = [&path] {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
  };
  ASSERT_TRUE(addressbook::storeEntry("10.0.0.5", "9000", "admin"));
  EXPECT_EQ(mode(), 0600u);
  for (mode_t kept : {0644, 0640, 0604}) {
    SCOPED_TRACE(kept);
    ASSERT_EQ(::chmod(path.c_str(), kept), 0);
    ASSERT_TRUE(addressbook::storeEntry("10.0.0.7", "9000", "admin"));
    ASSERT_TRUE(addressbook::removeEntry("10.0.0.7"));
    EXPECT_EQ(mode(), kept);
  }
  EXPECT_EQ(book(), k5 + k5);
}

// The folders made for the book are private, like the book itself.
TEST_F(BookFileSystem, TheFoldersMadeForTheBookArePrivate) {
  platform::setDataDirectoryOverride(dir_.path() + "/made/data");
  ASSERT_TRUE(addressbook::storeEntry("10.0.0.5", "9000", "admin"));
  for (const char* folder : {"/made", "/made/data"}) {
    SCOPED_TRACE(folder);
    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(dir_.path() + folder).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0700u);
  }
}

// The book may be a link into another folder (a synced one, say): updates rewrite the file it
// points at, next to which the temporary and lock files go, and the link stays a link.
TEST_F(BookFileSystem, ALinkedBookIsRewrittenAtItsTargetAndStaysALink) {
  ASSERT_TRUE(QDir(dir_.path()).mkpath("data"));
  ASSERT_TRUE(QDir(dir_.path()).mkpath("synced"));
  platform::setDataDirectoryOverride(dir_.path() + "/data");
  const QString target = dir_.path() + "/synced/book.pvx";
  // A relative link through a second link, to a target that doesn't exist yet.
  ASSERT_TRUE(QFile::link("../synced/book.pvx", dir_.path() + "/data/middle"));
  ASSERT_TRUE(QFile::link("middle", addressbook::bookPath()));

  ASSERT_TRUE(addressbook::storeEntry("10.0.0.5", "9000", "admin"));
  ASSERT_TRUE(addressbook::storeEntry("10.0.0.7", "9000", "admin"));
  ASSERT_TRUE(addressbook::removeEntry("10.0.0.5"));
  EXPECT_TRUE(QFileInfo(addressbook::bookPath()).isSymLink());
  EXPECT_TRUE(QFileInfo(dir_.path() + "/data/middle").isSymLink());
  EXPECT_EQ(book(), k7 + k7);
  EXPECT_EQ(QFileInfo(target).size(), 140);
  EXPECT_TRUE(exists(dir_.path() + "/synced/" + addressbook::kLockFileName));
  EXPECT_FALSE(exists(dir_.path() + "/synced/" + addressbook::kTempFileName));
  EXPECT_FALSE(exists(addressbook::tempPath()));

  // A link that leads back to itself can't be followed: nothing is written.
  ASSERT_TRUE(QFile::remove(addressbook::bookPath()));
  ASSERT_TRUE(QFile::link(addressbook::kBookFileName, addressbook::bookPath()));
  EXPECT_FALSE(addressbook::storeEntry("10.0.0.5", "9000", "admin"));
  EXPECT_TRUE(QFileInfo(addressbook::bookPath()).isSymLink());
  EXPECT_EQ(QFileInfo(target).size(), 140);
}

}  // namespace
