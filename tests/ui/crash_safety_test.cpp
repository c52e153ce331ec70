// Every way an update can be cut short leaves either the old book or the new one.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "book_fixture.h"
#include "ui/book_file_ops.h"

namespace {

enum class Step { None, Create, Write, Flush, Close, Rename };

// The real calls, with one step failing. A failing write writes part of its bytes first, as a full
// disk does. With `crash` set, a failure also skips the cleanup, as if the process had died there.
class FaultyFileOps final : public IBookFileOps {
 public:
  FaultyFileOps(Step failing, bool crash) : failing_(failing), crash_(crash) {}

  int createEmpty(const std::string& path) override {
    return failing_ == Step::Create ? -1 : real().createEmpty(path);
  }
  bool write(int fd, const uint8_t* data, size_t size) override {
    if (failing_ == Step::Write && ++writes_ == 2) {
      real().write(fd, data, size / 2);
      return fail();
    }
    return real().write(fd, data, size);
  }
  bool flush(int fd) override { return failing_ == Step::Flush ? fail() : real().flush(fd); }
  bool close(int fd) override {
    const bool closed = real().close(fd);
    return failing_ == Step::Close ? fail() : closed;
  }
  bool rename(const std::string& from, const std::string& to) override {
    return failing_ == Step::Rename ? fail() : real().rename(from, to);
  }
  void remove(const std::string& path) override {
    if (!crashed_) real().remove(path);
  }

 private:
  static IBookFileOps& real() { return realBookFileOps(); }
  bool fail() {
    crashed_ = crash_;
    return false;
  }
  Step failing_;
  bool crash_;
  bool crashed_ = false;
  int writes_ = 0;
};

const QByteArray k5 = recordBytes("10.0.0.5", "9000", "admin");
const QByteArray k7 = recordBytes("10.0.0.7", "9000", "admin");
const QByteArray k9 = recordBytes("10.0.0.9", "80", "guest");

struct Fault {
  Step step;
  bool crash;
};

std::string describe(const Fault& fault) {
  static const char* const kSteps[] = {"None", "Create", "Write", "Flush", "Close", "Rename"};
  return std::string(kSteps[static_cast<int>(fault.step)]) + (fault.crash ? "Crash" : "Fails");
}
void PrintTo(const Fault& fault, std::ostream* out) {
  *out << describe(fault);
}
std::string faultName(const ::testing::TestParamInfo<Fault>& info) {
  return describe(info.param);
}

class CrashSafety : public BookFixture, public ::testing::WithParamInterface<Fault> {};

TEST_P(CrashSafety, AFailedUpdateLeavesTheOldBookAndTheNextUpdateIsExact) {
  const QByteArray old = k7 + k5 + k7;
  setBook(old);

  FaultyFileOps store(GetParam().step, GetParam().crash);
  EXPECT_FALSE(addressbook::storeEntry("10.0.0.9", "80", "guest", store));
  EXPECT_EQ(book(), old);
  FaultyFileOps remove(GetParam().step, GetParam().crash);
  EXPECT_FALSE(addressbook::removeEntry("10.0.0.7", remove));
  EXPECT_EQ(book(), old);
  EXPECT_EQ(exists(addressbook::tempPath()), GetParam().crash && GetParam().step != Step::Create);

  // Whatever the interrupted update left in the temporary file never reaches the book.
  ASSERT_TRUE(addressbook::storeEntry("10.0.0.9", "80", "guest"));
  EXPECT_EQ(book(), k9 + k5 + k7 + k9);
  EXPECT_FALSE(exists(addressbook::tempPath()));
}

INSTANTIATE_TEST_SUITE_P(EachStep, CrashSafety,
                         ::testing::Values(Fault{Step::Create, false}, Fault{Step::Write, false},
                                           Fault{Step::Write, true}, Fault{Step::Flush, false},
                                           Fault{Step::Flush, true}, Fault{Step::Close, false},
                                           Fault{Step::Rename, false}, Fault{Step::Rename, true}),
                         faultName);

TEST_F(CrashSafety, AFailedFirstStoreLeavesNoBook) {
  FaultyFileOps ops(Step::Rename, false);
  EXPECT_FALSE(addressbook::storeEntry("10.0.0.5", "9000", "admin", ops));
  EXPECT_FALSE(exists(addressbook::bookPath()));
  EXPECT_FALSE(exists(addressbook::tempPath()));
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

}  // namespace
