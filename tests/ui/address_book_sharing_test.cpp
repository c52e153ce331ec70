// Two viewers on one data directory: writers in separate processes that overlap, that are killed
// mid-update, and a writer that holds the lock too long.
#include <QElapsedTimer>
#include <QSet>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <set>

#include "book_fixture.h"

namespace {

// The real calls without the syncs to disk. A killed process leaves its writes in the page cache,
// so syncing protects against power loss only; here it would add nothing but waits on a busy disk.
class UnsyncedFileOps final : public IBookFileOps {
 public:
  int lockExclusive(const std::string& path) override { return real().lockExclusive(path); }
  int openForReading(const std::string& path, bool& missing) override {
    return real().openForReading(path, missing);
  }
  ssize_t read(int fd, uint8_t* data, size_t size) override { return real().read(fd, data, size); }
  int createEmpty(const std::string& path) override { return real().createEmpty(path); }
  bool copyMode(int fromFd, int toFd) override { return real().copyMode(fromFd, toFd); }
  bool write(int fd, const uint8_t* data, size_t size) override {
    return real().write(fd, data, size);
  }
  bool flush(int) override { return true; }
  bool close(int fd) override { return real().close(fd); }
  bool rename(const std::string& from, const std::string& to) override {
    return std::rename(from.c_str(), to.c_str()) == 0;
  }
  void remove(const std::string& path) override { real().remove(path); }

 private:
  static IBookFileOps& real() { return realBookFileOps(); }
};

// Runs `work` in a forked child whose exit status is work's result.
pid_t spawn(const std::function<int()>& work) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::alarm(60);  // a child that hangs dies rather than hanging the test
    ::_exit(work());
  }
  return pid;
}

// The child's exit status, or 128 + the signal that ended it.
int reap(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

QStringList listed(const std::vector<AddressEntry>& entries) {
  QStringList addresses;
  for (size_t i = 1; i < entries.size(); ++i) addresses << entries[i].address;
  return addresses;
}

// A whole book (`bytes` as read from the file): whole records, a last-used entry that is also
// listed, no address listed twice, and every address in `kept` still listed, in the order given.
void expectWholeBook(const QByteArray& bytes, const QStringList& kept) {
  ASSERT_EQ(bytes.size() % 70, 0) << "a partial record";
  const std::vector<AddressEntry> entries = addressbook::loadEntries();
  ASSERT_GE(entries.size(), 2u) << "an empty book";
  const QStringList list = listed(entries);
  EXPECT_TRUE(list.contains(entries.front().address)) << entries.front().address.toStdString();
  EXPECT_EQ(QSet<QString>(list.begin(), list.end()).size(), list.size())
      << list.join(' ').toStdString();
  QStringList keptInList;
  for (const QString& address : list)
    if (kept.contains(address)) keptInList << address;
  EXPECT_EQ(keptInList, kept);
}

using SharedBook = BookFixture;

// Each writer stores its own addresses, removes every other one again and keeps storing one address
// both share; whatever the interleaving, the book ends with exactly the survivors of both.
TEST_F(SharedBook, OverlappingWritersInTwoProcessesLoseNoEntry) {
  constexpr int kSteps = 40;
  const auto address = [](int writer, int step) {
    return QStringLiteral("10.%1.0.%2").arg(writer).arg(step);
  };
  const auto writer = [&](int id) {
    return [&, id] {
      UnsyncedFileOps ops;
      int failures = 0;
      for (int step = 0; step < kSteps; ++step) {
        failures += !addressbook::storeEntry(address(id, step), "9000", "admin", ops);
        if (step % 2 == 1) failures += !addressbook::removeEntry(address(id, step - 1), ops);
        if (step % 5 == 0) failures += !addressbook::storeEntry("shared.dvr", "80", "guest", ops);
      }
      return std::min(failures, 100);
    };
  };
  const pid_t first = spawn(writer(1));
  const pid_t second = spawn(writer(2));
  EXPECT_EQ(reap(first), 0);
  EXPECT_EQ(reap(second), 0);

  QSet<QString> expected{"shared.dvr"};
  for (int step = 1; step < kSteps; step += 2) expected << address(1, step) << address(2, step);
  const QStringList list = listed(addressbook::loadEntries());
  EXPECT_EQ(list.size(), expected.size());
  EXPECT_EQ(QSet<QString>(list.begin(), list.end()), expected);
  QStringList survivors;
  for (int step = 1; step < kSteps; step += 2) survivors << address(1, step);
  expectWholeBook(book(), survivors);
  EXPECT_FALSE(exists(addressbook::tempPath()));
}

// Two writers killed at random moments, 25 rounds of two kills: the book is always a whole one and
// keeps the entries nobody removes, and the lock dies with its holder. Each writer says when it has
// done its first round, so the kills fall into the writing however slowly the children start.
TEST_F(SharedBook, WritersKilledAtAnyMomentLeaveAWholeBook) {
  setBook(k7 + k5 + k7);
  const auto flipping = [](const QString& address, int ready) {
    return [address, ready] {
      UnsyncedFileOps ops;
      for (bool first = true;; first = false) {
        addressbook::storeEntry(address, "80", "guest", ops);
        addressbook::removeEntry(address, ops);
        if (first && ::write(ready, "!", 1) != 1) return 1;
      }
      return 0;
    };
  };
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> pause(0, 15000);
  std::set<QByteArray> seen;
  for (int round = 0; round < 25; ++round) {
    SCOPED_TRACE(round);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t first = spawn(flipping("10.0.0.9", ready[1]));
    const pid_t second = spawn(flipping("10.0.0.8", ready[1]));
    ::close(ready[1]);
    char byte = 0;
    const bool started = ::read(ready[0], &byte, 1) == 1 && ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    ::usleep(static_cast<useconds_t>(pause(random)));
    ::kill(first, SIGKILL);
    ::usleep(static_cast<useconds_t>(pause(random) / 4));
    ::kill(second, SIGKILL);
    ASSERT_EQ(reap(first), 128 + SIGKILL);
    ASSERT_EQ(reap(second), 128 + SIGKILL);
    ASSERT_TRUE(started);
    expectWholeBook(book(), {"10.0.0.5", "10.0.0.7"});
    if (HasFatalFailure() || HasNonfatalFailure()) return;
    seen.insert(book());
  }
  EXPECT_GT(seen.size(), 2u) << "the writers never got to write";

  ASSERT_TRUE(addressbook::removeEntry("10.0.0.9"));
  ASSERT_TRUE(addressbook::removeEntry("10.0.0.8"));
  ASSERT_TRUE(addressbook::storeEntry("10.0.0.7", "9000", "admin"));
  EXPECT_EQ(book(), k7 + k5 + k7);
  EXPECT_FALSE(exists(addressbook::tempPath()));
}

// 1,000 store and remove operations (PV_BOOK_KILL_OPS for more) cut short by SIGKILL at random
// points, by one writer and by two at once. Each writer reports every finished operation, so the
// kills land at a chosen operation count plus a random part of the next one. After every kill the
// book is a whole old or new book, never lost.
void killWritersAtRandomPoints(int writers, uint32_t seed,
                               const std::function<QByteArray()>& book) {
  const char* fromEnv = std::getenv("PV_BOOK_KILL_OPS");
  const int operations = fromEnv != nullptr ? std::max(1, std::atoi(fromEnv)) : 1000;
  const auto flipping = [](const QString& address, int progress) {
    return [address, progress] {
      UnsyncedFileOps ops;
      for (;;) {
        addressbook::storeEntry(address, "80", "guest", ops);
        if (::write(progress, "s", 1) != 1) return 1;
        addressbook::removeEntry(address, ops);
        if (::write(progress, "r", 1) != 1) return 1;
      }
    };
  };
  std::mt19937 random(seed);
  int done = 0;
  int rounds = 0;
  std::set<QByteArray> seen;
  while (done < operations) {
    SCOPED_TRACE(rounds);
    int progress[2];
    ASSERT_EQ(::pipe(progress), 0);
    std::vector<pid_t> children;
    for (int w = 0; w < writers; ++w)
      children.push_back(spawn(flipping(QStringLiteral("10.0.1.%1").arg(w + 1), progress[1])));
    ::close(progress[1]);
    const int target = std::uniform_int_distribution<int>(1, 40)(random);
    char bytes[64];
    int counted = 0;
    while (counted < target) {
      const ssize_t got =
          ::read(progress[0], bytes,
                 std::min<size_t>(sizeof bytes, static_cast<size_t>(target - counted)));
      if (got <= 0) break;
      counted += static_cast<int>(got);
    }
    ::usleep(static_cast<useconds_t>(std::uniform_int_distribution<int>(0, 2000)(random)));
    for (const pid_t child : children) ::kill(child, SIGKILL);
    for (const pid_t child : children) ASSERT_EQ(reap(child), 128 + SIGKILL);
    // Whatever was reported after the kill point still counts as done.
    for (ssize_t got; (got = ::read(progress[0], bytes, sizeof bytes)) > 0;)
      counted += static_cast<int>(got);
    ::close(progress[0]);
    ASSERT_GE(counted, target);
    done += counted;
    ++rounds;
    expectWholeBook(book(), {"10.0.0.5", "10.0.0.7"});
    if (::testing::Test::HasFatalFailure() || ::testing::Test::HasNonfatalFailure()) return;
    seen.insert(book());
  }
  EXPECT_GT(seen.size(), 1u) << "every kill left the same book";
  std::printf("%d writer(s): %d operations, %d kills, %zu different books\n", writers, done,
              rounds * writers, seen.size());
}

TEST_F(SharedBook, OneWriterKilledAtRandomPointsOfAThousandOperations) {
  setBook(k7 + k5 + k7);
  killWritersAtRandomPoints(1, 20261207, [] { return book(); });
}

TEST_F(SharedBook, TwoWritersKilledAtRandomPointsOfAThousandOperations) {
  setBook(k7 + k5 + k7);
  killWritersAtRandomPoints(2, 20261208, [] { return book(); });
}

// The lock belongs to an open file description, so a second open in this process excludes like
// another viewer would. A writer that can't get it gives up after its wait and changes nothing.
TEST_F(SharedBook, AWriterGivesUpWhenTheLockIsHeldTooLong) {
  setBook(k7 + k7);
  const int held = realBookFileOps().lockExclusive(addressbook::lockPath().toStdString());
  ASSERT_GE(held, 0);
  CPosixBookFileOps impatient(std::chrono::milliseconds(150));
  QElapsedTimer timer;
  timer.start();
  EXPECT_FALSE(addressbook::storeEntry("10.0.0.5", "9000", "admin", impatient));
  EXPECT_FALSE(addressbook::removeEntry("10.0.0.7", impatient));
  EXPECT_GE(timer.elapsed(), 300);
  EXPECT_EQ(book(), k7 + k7);

  ::close(held);
  EXPECT_TRUE(addressbook::storeEntry("10.0.0.5", "9000", "admin", impatient));
  EXPECT_EQ(book(), k5 + k7 + k5);
}

}  // namespace
