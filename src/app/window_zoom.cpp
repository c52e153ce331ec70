#include "app/window_zoom.h"

#include <QFile>
#include <QSaveFile>

#include "platform/data_directory.h"

namespace {
const QString kFileName = QStringLiteral("pelloxview.conf");
constexpr qint64 kMaxSize = 4096;
}  // namespace

int rememberedZoom() {
  QFile file(platform::dataFilePath(kFileName));
  if (!file.open(QIODevice::ReadOnly)) return 0;
  const QByteArray text = file.read(kMaxSize);
  for (const QByteArray& line : text.split('\n')) {
    if (!line.startsWith("zoom=")) continue;
    bool ok = false;
    const int zoom = line.mid(5).trimmed().toInt(&ok);
    return ok && zoom >= 1 && zoom <= 4 ? zoom : 0;
  }
  return 0;
}

bool rememberZoom(int zoom) {
  if (zoom < 1 || zoom > 4 || platform::ensureDataDirectory().isEmpty()) return false;
  QSaveFile file(platform::dataFilePath(kFileName));
  if (!file.open(QIODevice::WriteOnly)) return false;
  file.write("zoom=" + QByteArray::number(zoom) + "\n");
  return file.commit();
}
