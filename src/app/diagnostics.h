#pragma once
// Run-time self checks for fault campaigns (hidden option --diagnostics): how long the UI thread
// was kept from its event loop, and which threads and file descriptors outlive the window.
#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <sys/types.h>

#include <atomic>
#include <mutex>
#include <stop_token>
#include <thread>

// The process's threads ("ID name", from /proc/self/task) and open descriptors ("FD -> target",
// from /proc/self/fd).
struct ResourceSnapshot {
  QStringList threads;
  QStringList fds;
};
ResourceSnapshot takeResourceSnapshot();

// What exists now and did not in `before`. Qt's own idle pool workers ("Thread (pooled)", which
// the raster engine starts to convert large images and which expire on their own after 30 s) are
// counted apart, together with one event descriptor each: they are Qt's, not the viewer's.
struct Leftovers {
  QStringList threads;
  QStringList fds;
  int qtPoolWorkers = 0;
};
Leftovers leftoversSince(const ResourceSnapshot& before);

// A 20 ms tick on the UI thread; the largest gap between two ticks shows how long the event loop
// was held up. On a loaded machine part of a gap is spent waiting for a processor; the kernel
// counts that wait (schedstat), and the gap without it is what the viewer itself held the thread
// for, running or blocked. A watcher thread looks at the UI thread when a tick is 80 ms late and
// notes what the kernel says it is doing (state, wait channel, system call), so the log line of a
// long gap says where it was spent. UI thread only.
class CUiHeartbeat final : public QObject {
  Q_OBJECT

 public:
  static constexpr int kIntervalMs = 20;
  static constexpr qint64 kReportGapMs = 100;
  static constexpr int kMaxReports = 10;

  static constexpr int kLookAfterMs = 80;

  CUiHeartbeat();
  ~CUiHeartbeat() override;
  void start();
  void stop();
  qint64 slowestGapMs() const { return slowest_; }
  // The largest gap less the time the thread waited for a processor meanwhile.
  qint64 slowestHeldMs() const { return slowestHeld_; }
  // What the watcher saw the UI thread doing during the slowest gap; empty when it saw nothing.
  const QString& slowestGapSeen() const { return slowestSeen_; }

 private:
  void tick();
  void watch(std::stop_token stop);

  QTimer timer_;
  QElapsedTimer since_;
  qint64 slowest_ = 0;
  qint64 slowestHeld_ = 0;
  qint64 lastWaitNs_ = 0;
  int reported_ = 0;
  pid_t uiThread_ = 0;
  std::atomic<qint64> lastTickMs_{0};  // on watchClock_
  QElapsedTimer watchClock_;
  std::mutex sampleMutex_;
  QString sample_;
  QString slowestSeen_;  // what the watcher saw during the current gap, empty when it saw nothing
  std::jthread watcher_;
};
