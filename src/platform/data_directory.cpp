#include "platform/data_directory.h"

#include <QDir>
#include <QFile>

#include <mutex>

#include "platform/output_file.h"

namespace {
std::mutex overrideMutex;
QString overrideDirectory;
}  // namespace

namespace platform {

QString dataDirectory() {
  {
    std::lock_guard lock(overrideMutex);
    if (!overrideDirectory.isEmpty()) return overrideDirectory;
  }
  const QString fromEnvironment = qEnvironmentVariable("PELLOXVIEW_DATA_DIR");
  if (!fromEnvironment.isEmpty()) return fromEnvironment;
  QString base = qEnvironmentVariable("XDG_DATA_HOME");
  // The XDG rules ignore a relative XDG_DATA_HOME.
  if (base.isEmpty() || QDir::isRelativePath(base)) base = QDir::homePath() + "/.local/share";
  return base + "/pelloxview";
}

void setDataDirectoryOverride(const QString& directory) {
  std::lock_guard lock(overrideMutex);
  overrideDirectory = directory;
}

QString ensureDataDirectory() {
  const QString directory = dataDirectory();
  // Private like the book in it; a folder that exists keeps its mode.
  return makePrivateFolder(QFile::encodeName(directory).toStdString()) ? directory : QString();
}

QString dataFilePath(const QString& fileName) {
  return QDir(dataDirectory()).filePath(fileName);
}

}  // namespace platform
