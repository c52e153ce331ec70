// The campaign diagnostics: threads and descriptors that outlive a snapshot are named, and gone
// once they are; the heartbeat sees a UI thread that is held up.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "app/diagnostics.h"

namespace {

TEST(Diagnostics, NewThreadsAndDescriptorsAreLeftoversUntilTheyGo) {
  const ResourceSnapshot before = takeResourceSnapshot();
  EXPECT_TRUE(leftoversSince(before).threads.isEmpty());
  EXPECT_TRUE(leftoversSince(before).fds.isEmpty());

  std::atomic<bool> stop{false};
  std::atomic<bool> named{false};
  std::thread worker([&] {
    pthread_setname_np(pthread_self(), "diag-worker");
    named = true;
    while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  while (!named) std::this_thread::yield();
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const Leftovers left = leftoversSince(before);
  // Only the worker is named: a sanitizer may start a helper thread of its own meanwhile.
  EXPECT_EQ(left.threads.filter(QStringLiteral(" diag-worker")).size(), 1);
  EXPECT_EQ(left.fds.size(), 2);
  EXPECT_TRUE(left.fds.join(QLatin1Char(' ')).contains(QStringLiteral("pipe:")));

  stop = true;
  worker.join();
  ::close(fds[0]);
  ::close(fds[1]);
  EXPECT_TRUE(leftoversSince(before).threads.filter(QStringLiteral(" diag-worker")).isEmpty());
  EXPECT_TRUE(leftoversSince(before).fds.isEmpty());
}

TEST(Diagnostics, HeartbeatMeasuresAHeldUpThread) {
  CUiHeartbeat heartbeat;
  heartbeat.start();
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < 100) QCoreApplication::processEvents();
  const qint64 idle = heartbeat.slowestHeldMs();
  QThread::msleep(250);  // the event loop held up, as a blocking call on the UI thread would
  while (clock.elapsed() < 400) QCoreApplication::processEvents();
  heartbeat.stop();
  EXPECT_LT(idle, 200);
  EXPECT_GE(heartbeat.slowestGapMs(), 250);
  // Sleeping is holding the thread, not waiting for a processor.
  EXPECT_GE(heartbeat.slowestHeldMs(), 200);
  // The watcher saw where: asleep in the kernel's sleep call (nanosleep or clock_nanosleep).
  const QString seen = heartbeat.slowestGapSeen();
  EXPECT_TRUE(seen.startsWith(QStringLiteral("state S wchan "))) << seen.toStdString();
  EXPECT_TRUE(seen.endsWith(QStringLiteral(" syscall 35")) ||
              seen.endsWith(QStringLiteral(" syscall 230")))
      << seen.toStdString();
}

}  // namespace
