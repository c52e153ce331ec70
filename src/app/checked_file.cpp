#include "app/checked_file.h"

#include <QFile>

bool writeWholeFile(const QString& path, const QByteArray& bytes, QString* error) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    *error = file.errorString();
    return false;
  }
  // QFile buffers: a full disk shows only when the buffer goes to the file.
  if (file.write(bytes) != bytes.size() || !file.flush()) {
    *error = file.errorString();
    return false;
  }
  file.close();
  if (file.error() != QFileDevice::NoError) {
    *error = file.errorString();
    return false;
  }
  return true;
}
