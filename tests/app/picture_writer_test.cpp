// Saving pictures off the owner's thread: what a save reports, and storage that never answers.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/picture_writer.h"

namespace {

using std::chrono::milliseconds;

QImage picture() {
  QImage image(64, 48, QImage::Format_RGB888);
  image.fill(Qt::darkCyan);
  return image;
}

TEST(PictureWriter, SavesIntoANewPrivateFolderAndNeverOverAnExistingFile) {
  QTemporaryDir dir;
  const std::string path = QFile::encodeName(dir.filePath("new/shot.png")).toStdString();
  CPictureWriter writer;
  ASSERT_TRUE(writer.save(picture(), path, platform::ExistingFile::Numbered, true));
  ASSERT_TRUE(writer.finish(milliseconds(5000)));
  ASSERT_TRUE(writer.save(picture(), path, platform::ExistingFile::Numbered, true));
  ASSERT_TRUE(writer.save(picture(), path, platform::ExistingFile::Refuse, true));
  ASSERT_TRUE(writer.finish(milliseconds(5000)));
  const auto results = writer.takeResults();
  ASSERT_EQ(results.size(), 3u);
  EXPECT_TRUE(results[0].saved);
  EXPECT_EQ(results[0].path, path);
  EXPECT_EQ(QImage(QString::fromStdString(path)).size(), QSize(64, 48));
  // The other two in either order: one numbered, one refused.
  const bool numberedFirst = results[1].saved;
  const auto& numbered = results[numberedFirst ? 1 : 2];
  const auto& refused = results[numberedFirst ? 2 : 1];
  EXPECT_TRUE(numbered.saved);
  EXPECT_EQ(numbered.path, platform::numberedName(path, 2));
  EXPECT_FALSE(refused.saved);
  EXPECT_FALSE(refused.abandoned);
  EXPECT_TRUE(refused.error.contains("the file exists")) << refused.error.toStdString();
  EXPECT_EQ(QDir(dir.filePath("new")).entryList(QDir::Files).size(), 2);
  struct stat status {};
  ASSERT_EQ(::stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  // A picture that can't be encoded creates no file.
  ASSERT_TRUE(writer.save(QImage(), path, platform::ExistingFile::Numbered, false));
  ASSERT_TRUE(writer.finish(milliseconds(5000)));
  const auto failed = writer.takeResults();
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_FALSE(failed[0].saved);
  EXPECT_EQ(QDir(dir.filePath("new")).entryList(QDir::Files).size(), 2);
}

// Saves stuck on a FIFO nobody reads: the owner waits no longer than it asks, never has more
// than kMaxBusy stuck at once, and a stuck save that finishes late reports nothing more.
TEST(PictureWriter, StuckSavesAreAbandonedAndCapped) {
  QTemporaryDir dir;
  const std::string fifo = QFile::encodeName(dir.filePath("stalled.png")).toStdString();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::atomic<int> news{0};
  {
    CPictureWriter writer([&news] { ++news; });
    for (size_t i = 0; i < CPictureWriter::kMaxBusy; ++i)
      ASSERT_TRUE(writer.save(picture(), fifo, platform::ExistingFile::Replace, false));
    EXPECT_FALSE(writer.save(picture(), fifo, platform::ExistingFile::Replace, false));
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_FALSE(writer.finish(milliseconds(200)));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, milliseconds(3000));
    const auto results = writer.takeResults();
    ASSERT_EQ(results.size(), CPictureWriter::kMaxBusy);
    for (const auto& result : results) {
      EXPECT_TRUE(result.abandoned);
      EXPECT_FALSE(result.saved);
    }
    // Room again for new saves.
    EXPECT_TRUE(writer.save(picture(), fifo, platform::ExistingFile::Replace, false));
  }  // abandons the last one without waiting
  // The disk answers at last: every stuck save finishes, and none of them reports.
  const int fd = ::open(fifo.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  char buffer[65536];
  while (::read(fd, buffer, sizeof buffer) > 0) {
  }
  ::close(fd);
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_EQ(news.load(), 0);
}

}  // namespace
