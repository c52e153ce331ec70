#include "app/diagnostics.h"

#include <QDir>

namespace {
int countEntries(const char* path) {
  const QDir dir(QString::fromLatin1(path));
  if (!dir.exists()) return -1;
  // The listing opens a descriptor of its own while it reads; it is closed before it returns.
  return static_cast<int>(
      dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden).size());
}
}  // namespace

ResourceCount countResources() {
  return {countEntries("/proc/self/task"), countEntries("/proc/self/fd")};
}

CUiHeartbeat::CUiHeartbeat() {
  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setInterval(kIntervalMs);
  connect(&timer_, &QTimer::timeout, this, &CUiHeartbeat::tick);
}

void CUiHeartbeat::start() {
  since_.start();
  timer_.start();
}

void CUiHeartbeat::stop() {
  if (timer_.isActive()) tick();
  timer_.stop();
}

void CUiHeartbeat::tick() {
  slowest_ = std::max(slowest_, since_.restart());
}
