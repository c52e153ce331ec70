#include "ui/address_book_file.h"

#include <gtest/gtest.h>

#include "book_fixture.h"

namespace {

using AddressBookFile = BookFixture;

const QByteArray k5 = recordBytes("10.0.0.5", "9000", "admin");
const QByteArray k7 = recordBytes("10.0.0.7", "9000", "admin");
const QByteArray k5New = recordBytes("10.0.0.5", "9100", "admin");

TEST_F(AddressBookFile, StoringBuildsLastUsedEntryAndListInFirstStoredOrder) {
  EXPECT_TRUE(addressbook::loadEntries().empty());

  ASSERT_TRUE(addressbook::storeEntry("10.0.0.5", "9000", "admin"));
  EXPECT_EQ(book(), k5 + k5);  // 140 bytes: last-used and the only list entry
  EXPECT_FALSE(exists(addressbook::tempPath()));

  ASSERT_TRUE(addressbook::storeEntry("10.0.0.7", "9000", "admin"));
  EXPECT_EQ(book(), k7 + k5 + k7);

  // The list entry keeps its old port; only record 0 has the new one, and it is found first.
  ASSERT_TRUE(addressbook::storeEntry("10.0.0.5", "9100", "admin"));
  EXPECT_EQ(book(), k5New + k5 + k7);
  const auto found = addressbook::findEntry("10.0.0.5");
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->port, "9100");
  EXPECT_EQ(addressbook::findEntry("10.0.0.7")->port, "9000");
  EXPECT_FALSE(addressbook::findEntry("10.0.0.").has_value());  // exact comparison
  EXPECT_FALSE(addressbook::findEntry("10.0.0.5 ").has_value());

  const std::vector<AddressEntry> entries = addressbook::loadEntries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0], (AddressEntry{"10.0.0.5", "9100", "admin"}));
  EXPECT_EQ(entries[2], (AddressEntry{"10.0.0.7", "9000", "admin"}));
}

TEST_F(AddressBookFile, AddressesCompareCaseSensitively) {
  ASSERT_TRUE(addressbook::storeEntry("dvr.example", "9000", "admin"));
  ASSERT_TRUE(addressbook::storeEntry("DVR.example", "9000", "admin"));
  EXPECT_EQ(book(), recordBytes("DVR.example", "9000", "admin") +
                        recordBytes("dvr.example", "9000", "admin") +
                        recordBytes("DVR.example", "9000", "admin"));
}

TEST_F(AddressBookFile, RemovingTheLastUsedAddressPromotesTheFirstRemainingRecord) {
  setBook(k5New + k5 + k7);
  ASSERT_TRUE(addressbook::removeEntry("10.0.0.5"));
  EXPECT_EQ(book(), k7 + k7);

  ASSERT_TRUE(addressbook::removeEntry("10.0.0.7"));
  EXPECT_EQ(book().size(), 0);  // nothing remains: an empty book
  EXPECT_TRUE(exists(addressbook::bookPath()));
  EXPECT_TRUE(addressbook::loadEntries().empty());
}

TEST_F(AddressBookFile, RemovingAnotherAddressDropsOnlyItsListEntry) {
  const QByteArray k9 = recordBytes("10.0.0.9", "80", "guest");
  setBook(k7 + k5 + k9 + k7);
  ASSERT_TRUE(addressbook::removeEntry("10.0.0.9"));
  EXPECT_EQ(book(), k7 + k5 + k7);
  // An address that isn't there leaves the records as they were.
  ASSERT_TRUE(addressbook::removeEntry("10.0.0.1"));
  EXPECT_EQ(book(), k7 + k5 + k7);
}

TEST_F(AddressBookFile, RemovingFromAMissingBookChangesNothing) {
  EXPECT_FALSE(addressbook::removeEntry("10.0.0.5"));
  EXPECT_FALSE(exists(addressbook::bookPath()));
  EXPECT_FALSE(exists(addressbook::tempPath()));
}

TEST_F(AddressBookFile, PortIsStoredAsTyped) {
  ASSERT_TRUE(addressbook::storeEntry("10.0.0.5", "http", "admin"));
  EXPECT_EQ(book(),
            recordBytes("10.0.0.5", "http", "admin") + recordBytes("10.0.0.5", "http", "admin"));
}

TEST_F(AddressBookFile, LongFieldsAreCutAtACharacterBoundaryInsideTheirField) {
  // 38 ASCII bytes then a two-byte character: only 39 bytes fit, so the character is left out.
  const QString address = QString(38, 'a') + QChar(0x00E9) + "tail";
  const QString port = "1234567890123";
  const QString userId = QString(18, 'u') + QChar(0x20AC);  // a three-byte character at byte 18
  ASSERT_TRUE(addressbook::storeEntry(address, port, userId));
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

TEST_F(AddressBookFile, StoringCreatesAMissingDataDirectory) {
  platform::setDataDirectoryOverride(dir_.path() + "/nested/dir");
  ASSERT_TRUE(addressbook::storeEntry("10.0.0.5", "9000", "admin"));
  EXPECT_EQ(book(), k5 + k5);
}

}  // namespace
