#pragma once
// Run-time self checks for fault campaigns (hidden option --diagnostics): how long the UI thread
// was kept from its event loop, and which threads and file descriptors outlive the window.
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

struct ResourceCount {
  int threads = 0;
  int fds = 0;
};

// Entries of /proc/self/task and /proc/self/fd (-1 each when /proc can't be read).
ResourceCount countResources();

// A 20 ms tick on the UI thread; the largest gap between two ticks shows how long the event loop
// was held up. UI thread only.
class CUiHeartbeat final : public QObject {
  Q_OBJECT

 public:
  static constexpr int kIntervalMs = 20;

  CUiHeartbeat();
  void start();
  void stop();
  qint64 slowestGapMs() const { return slowest_; }

 private:
  void tick();

  QTimer timer_;
  QElapsedTimer since_;
  qint64 slowest_ = 0;
};
