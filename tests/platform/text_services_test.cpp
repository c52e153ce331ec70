#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <array>

#include "platform/data_directory.h"
#include "platform/fixed_field.h"
#include "platform/string_table.h"

namespace {

TEST(FixedField, ZeroFillsAndKeepsANulInNulTerminatedFields) {
  std::array<uint8_t, 8> field;
  field.fill(0xAA);
  EXPECT_EQ(writeFixedField(field, std::string_view("abcdefghij")), 7u);
  EXPECT_EQ(std::string(field.begin(), field.begin() + 7), "abcdefg");
  EXPECT_EQ(field[7], 0);
  EXPECT_EQ(writeFixedField(field, std::string_view("ab")), 2u);
  for (size_t i = 2; i < field.size(); ++i) EXPECT_EQ(field[i], 0) << i;
}

TEST(FixedField, NoSpaceFieldsMayBeFilledCompletely) {
  std::array<uint8_t, 34> guarded{};
  guarded.front() = 0x55;
  guarded.back() = 0x55;
  std::span<uint8_t> field(guarded.data() + 1, 32);
  EXPECT_EQ(writeFixedField(field, std::string(40, 'x'), FieldEnd::NoSpace), 32u);
  EXPECT_EQ(guarded.front(), 0x55);
  EXPECT_EQ(guarded.back(), 0x55);  // nothing written past the field
}

TEST(FixedField, CutsAtACharacterBoundary) {
  std::array<uint8_t, 5> field;
  // "aé€": 1 + 2 + 3 bytes; 4 bytes of room must not split the euro sign.
  EXPECT_EQ(writeFixedField(field, QString::fromUtf8("a\xC3\xA9\xE2\x82\xAC")), 3u);
  EXPECT_EQ(readFixedField(field), QString::fromUtf8("a\xC3\xA9"));
  EXPECT_EQ(utf8PrefixLength("\xE2\x82\xAC", 2), 0u);
  EXPECT_EQ(utf8PrefixLength("\xF0\x9F\x98\x80z", 4), 4u);
}

TEST(FixedField, ReadingStopsAtNulOrFieldEnd) {
  const std::array<uint8_t, 4> full{'a', 'b', 'c', 'd'};
  EXPECT_EQ(readFixedFieldBytes(full), "abcd");
  const std::array<uint8_t, 4> shorter{'a', 0, 'c', 'd'};
  EXPECT_EQ(readFixedFieldBytes(shorter), "a");
  const std::array<uint8_t, 3> invalid{0xFF, 0xFE, 0};
  EXPECT_EQ(readFixedField(invalid).size(), 2);  // replacement characters, no crash
}

TEST(StringTable, HoldsTheSystemMessages) {
  EXPECT_EQ(strings::load(32780),
            "Already logged in with the same user name. Please check it again.");
  EXPECT_EQ(strings::load(32774),
            "A user with their administrator authority has already logged in.");
  EXPECT_EQ(strings::load(32775),
            "Exceeded the maximum number of users who can be logged in. You cannot log in.");
  EXPECT_EQ(strings::load(32776), "Cannot log on to DVR with current account.");
  EXPECT_EQ(strings::load(32777), "Invaild password. Please check it again.");
  EXPECT_EQ(strings::load(32778), "The dvr of local is connecting already.");
  EXPECT_EQ(strings::load(32779), "The user has entered the DVR setup.");
  EXPECT_EQ(strings::load(32793), "Invalid domain address. Unable to convert IP address.");
  EXPECT_TRUE(strings::load(32781).isEmpty());
}

TEST(DataDirectory, OverrideThenEnvironmentThenXdg) {
  QTemporaryDir temp;
  const QByteArray savedEnv = qgetenv("PELLOXVIEW_DATA_DIR");
  const QByteArray savedXdg = qgetenv("XDG_DATA_HOME");
  qunsetenv("PELLOXVIEW_DATA_DIR");
  qputenv("XDG_DATA_HOME", temp.path().toUtf8());
  EXPECT_EQ(platform::dataDirectory(), temp.path() + "/pelloxview");
  qputenv("XDG_DATA_HOME", "relative/path");  // ignored, as the XDG rules say
  EXPECT_EQ(platform::dataDirectory(), QDir::homePath() + "/.local/share/pelloxview");
  qputenv("PELLOXVIEW_DATA_DIR", (temp.path() + "/env").toUtf8());
  EXPECT_EQ(platform::dataDirectory(), temp.path() + "/env");
  platform::setDataDirectoryOverride(temp.path() + "/cli/nested");
  EXPECT_EQ(platform::ensureDataDirectory(), temp.path() + "/cli/nested");
  EXPECT_TRUE(QDir(temp.path() + "/cli/nested").exists());
  EXPECT_EQ(platform::dataFilePath("PelloxView.pvx"), temp.path() + "/cli/nested/PelloxView.pvx");
  platform::setDataDirectoryOverride({});
  qputenv("PELLOXVIEW_DATA_DIR", savedEnv);
  qputenv("XDG_DATA_HOME", savedXdg);
  if (savedEnv.isEmpty()) qunsetenv("PELLOXVIEW_DATA_DIR");
  if (savedXdg.isEmpty()) qunsetenv("XDG_DATA_HOME");
}

}  // namespace
