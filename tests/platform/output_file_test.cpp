// Files and folders made for the user's captures: numbered names, private modes, no links.
#include "platform/output_file.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

mode_t modeOf(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 07777;
}

TEST(OutputFile, NumberedNamesKeepTheExtension) {
  EXPECT_EQ(platform::numberedName("/a/b/DVR-ch01-20260101-120000.png", 2),
            "/a/b/DVR-ch01-20260101-120000-2.png");
  EXPECT_EQ(platform::numberedName("/a.b/clip", 3), "/a.b/clip-3");
  EXPECT_EQ(platform::numberedName("dir/.hidden", 2), "dir/.hidden-2");
  EXPECT_EQ(platform::numberedName("x.tar.gz", 10), "x.tar-10.gz");
}

// A burst of captures within one second: each gets its own file; none is opened twice.
TEST(OutputFile, NumberedNeverReusesAName) {
  QTemporaryDir dir;
  const std::string base = dir.filePath("shot.png").toStdString();
  for (const char* expected : {"shot.png", "shot-2.png", "shot-3.png"}) {
    platform::COutputFile file = platform::createOutputFile(base, platform::ExistingFile::Numbered);
    ASSERT_TRUE(file.isOpen()) << file.error();
    EXPECT_EQ(file.path(), dir.filePath(expected).toStdString());
    EXPECT_EQ(modeOf(file.path()), 0600u);
  }
  const platform::COutputFile refused =
      platform::createOutputFile(base, platform::ExistingFile::Refuse);
  EXPECT_FALSE(refused.isOpen());
  EXPECT_EQ(refused.error(), "cannot create " + base + ": the file exists");
}

// Only the folders it creates are made private; one that exists keeps its mode.
TEST(OutputFile, PrivateFoldersAreMadeOnlyWhereMissing) {
  QTemporaryDir dir;
  const std::string existing = dir.filePath("shared").toStdString();
  ASSERT_EQ(::mkdir(existing.c_str(), 0755), 0);
  ASSERT_EQ(::chmod(existing.c_str(), 0755), 0);
  ASSERT_TRUE(platform::makePrivateFolder(existing + "/a/b/"));
  EXPECT_EQ(modeOf(existing), 0755u);
  EXPECT_EQ(modeOf(existing + "/a"), 0700u);
  EXPECT_EQ(modeOf(existing + "/a/b"), 0700u);
  EXPECT_TRUE(platform::makePrivateFolder(existing + "/a/b"));  // already there
  // A file in the way is not a folder.
  const platform::COutputFile file =
      platform::createOutputFile(existing + "/f", platform::ExistingFile::Refuse);
  ASSERT_TRUE(file.isOpen());
  EXPECT_FALSE(platform::makePrivateFolder(existing + "/f"));
  EXPECT_FALSE(platform::makePrivateFolder(existing + "/f/g"));
}

}  // namespace
