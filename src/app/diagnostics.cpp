#include "app/diagnostics.h"

#include <QDir>
#include <QFile>

#include <algorithm>
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

CUiHeartbeat::CUiHeartbeat() {
  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setInterval(kIntervalMs);
  connect(&timer_, &QTimer::timeout, this, &CUiHeartbeat::tick);
}

void CUiHeartbeat::start() {
  lastWaitNs_ = runQueueWaitNs();
  since_.start();
  timer_.start();
}

void CUiHeartbeat::stop() {
  if (timer_.isActive()) tick();
  timer_.stop();
}

void CUiHeartbeat::tick() {
  const qint64 gap = since_.restart();
  const qint64 waitNs = runQueueWaitNs();
  const qint64 held = std::max<qint64>(0, gap - (waitNs - lastWaitNs_) / 1000000);
  lastWaitNs_ = waitNs;
  slowest_ = std::max(slowest_, gap);
  slowestHeld_ = std::max(slowestHeld_, held);
  // Where the long gaps fell, next to the status lines of the log.
  if (gap >= kReportGapMs && reported_ < kMaxReports) {
    ++reported_;
    std::fprintf(stderr, "diagnostics: ui-gap %lld ms (held %lld ms)\n",
                 static_cast<long long>(gap), static_cast<long long>(held));
    std::fflush(stderr);
  }
}
