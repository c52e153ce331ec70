#include "app/diagnostics.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {
const QString kQtPoolWorker = QStringLiteral("Thread (pooled)");

QStringList listThreads() {
  QStringList threads;
  const QDir dir(QStringLiteral("/proc/self/task"));
  for (const QString& id : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    QFile comm(dir.filePath(id + QStringLiteral("/comm")));
    const QString name =
        comm.open(QIODevice::ReadOnly) ? QString::fromUtf8(comm.readAll()).trimmed() : QString();
    threads << id + QLatin1Char(' ') + name;
  }
  return threads;
}

// The listing's own descriptor is closed again before the list is returned.
QStringList listDescriptors() {
  QStringList fds;
  const QDir dir(QStringLiteral("/proc/self/fd"));
  const QStringList entries =
      dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden);
  for (const QString& fd : entries) {
    const QString target = QFile::symLinkTarget(dir.filePath(fd));
    if (target.isEmpty()) continue;  // gone meanwhile: the listing's own
    fds << fd + QStringLiteral(" -> ") + target;
  }
  return fds;
}
// Nanoseconds this thread has waited on a run queue so far (0 when the kernel doesn't say).
qint64 runQueueWaitNs() {
  QFile file(QStringLiteral("/proc/thread-self/schedstat"));
  if (!file.open(QIODevice::ReadOnly)) return 0;
  const QList<QByteArray> fields = file.readAll().split(' ');
  return fields.size() >= 2 ? fields[1].trimmed().toLongLong() : 0;
}
}  // namespace

ResourceSnapshot takeResourceSnapshot() {
  return {listThreads(), listDescriptors()};
}

Leftovers leftoversSince(const ResourceSnapshot& before) {
  Leftovers left;
  for (const QString& thread : listThreads()) {
    if (before.threads.contains(thread)) continue;
    if (thread.endsWith(kQtPoolWorker)) {
      ++left.qtPoolWorkers;
    } else {
      left.threads << thread;
    }
  }
  int poolEvents = left.qtPoolWorkers;
  for (const QString& fd : listDescriptors()) {
    if (before.fds.contains(fd)) continue;
    if (poolEvents > 0 && fd.endsWith(QStringLiteral("[eventfd]"))) {
      --poolEvents;
      continue;
    }
    left.fds << fd;
  }
  return left;
}

namespace {
// One line of what the kernel says about a thread of this process: its state (R running, S
// sleeping, D in uninterruptible wait), the kernel function it waits in and its system call.
QString describeThread(pid_t thread) {
  const QString base = QStringLiteral("/proc/self/task/%1/").arg(thread);
  auto read = [&](const char* name) {
    QFile file(base + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
  };
  const QString stat = read("stat");
  // The state follows the command name, which is in parentheses and may contain anything.
  const qsizetype close = stat.lastIndexOf(QLatin1Char(')'));
  const QString state = close >= 0 ? stat.mid(close + 2, 1) : QStringLiteral("?");
  const QString syscall = read("syscall").section(QLatin1Char(' '), 0, 0);
  return QStringLiteral("state %1 wchan %2 syscall %3").arg(state, read("wchan"), syscall);
}
}  // namespace

CUiHeartbeat::CUiHeartbeat() {
  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setInterval(kIntervalMs);
  connect(&timer_, &QTimer::timeout, this, &CUiHeartbeat::tick);
}

CUiHeartbeat::~CUiHeartbeat() {
  stop();
}

void CUiHeartbeat::start() {
  lastWaitNs_ = runQueueWaitNs();
  since_.start();
  timer_.start();
  uiThread_ = ::gettid();
  watchClock_.start();
  lastTickMs_ = 0;
  watcher_ = std::jthread([this](std::stop_token stop) { watch(stop); });
}

void CUiHeartbeat::stop() {
  if (timer_.isActive()) tick();
  timer_.stop();
  if (watcher_.joinable()) {
    watcher_.request_stop();
    watcher_.join();
  }
}

void CUiHeartbeat::watch(std::stop_token stop) {
  qint64 sampledTick = -1;
  while (!stop.stop_requested()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const qint64 tick = lastTickMs_.load();
    if (tick == sampledTick || watchClock_.elapsed() - tick < kLookAfterMs) continue;
    sampledTick = tick;  // one look per gap
    const QString seen = describeThread(uiThread_);
    std::lock_guard lock(sampleMutex_);
    sample_ = seen;
  }
}

void CUiHeartbeat::tick() {
  const qint64 gap = since_.restart();
  const qint64 waitNs = runQueueWaitNs();
  const qint64 held = std::max<qint64>(0, gap - (waitNs - lastWaitNs_) / 1000000);
  lastWaitNs_ = waitNs;
  if (gap > slowest_) slowestSeen_.clear();
  slowest_ = std::max(slowest_, gap);
  slowestHeld_ = std::max(slowestHeld_, held);
  lastTickMs_ = watchClock_.elapsed();
  QString seen;
  {
    std::lock_guard lock(sampleMutex_);
    seen.swap(sample_);
  }
  if (gap == slowest_ && !seen.isEmpty()) slowestSeen_ = seen;
  // Where the long gaps fell, next to the status lines of the log.
  if (gap >= kReportGapMs && reported_ < kMaxReports) {
    ++reported_;
    std::fprintf(stderr, "diagnostics: ui-gap %lld ms (held %lld ms)%s%s\n",
                 static_cast<long long>(gap), static_cast<long long>(held),
                 seen.isEmpty() ? "" : ", the UI thread seen in ", seen.toUtf8().constData());
    std::fflush(stderr);
  }
}
