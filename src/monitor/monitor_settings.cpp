#include "monitor/monitor_settings.h"

#include <QSettings>

#include "monitor/channel_pages.h"
#include "platform/data_directory.h"

namespace {
const QString kFileName = QStringLiteral("monitor.conf");
constexpr int kMaxSide = 100000;

// A group name QSettings keeps as it is: the key's characters other than letters, digits, '.'
// and '-' become '_' (an address holds no others; a port is digits).
QString groupOf(const QString& dvrKey) {
  QString group = QStringLiteral("dvr-");
  for (QChar c : dvrKey) {
    const bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                       (c >= u'0' && c <= u'9') || c == u'.' || c == u'-';
    group += plain ? c : QChar(u'_');
  }
  return group;
}
}  // namespace

QString monitorSettingsKey(const QString& address, uint16_t port) {
  return address + QLatin1Char(':') + QString::number(port);
}

MonitorSettings loadMonitorSettings(const QString& dvrKey) {
  MonitorSettings loaded;
  QSettings file(platform::dataFilePath(kFileName), QSettings::IniFormat);
  file.beginGroup(groupOf(dvrKey));
  loaded.layout = parseGridLayout(file.value(QStringLiteral("layout")).toString().toStdString());
  const QString channels = file.value(QStringLiteral("channels")).toString();
  if (!channels.isEmpty()) loaded.channels = parseChannelList(channels.toStdString(), nullptr);
  const QRect geometry = file.value(QStringLiteral("geometry")).toRect();
  if (geometry.width() > 0 && geometry.height() > 0 && geometry.width() < kMaxSide &&
      geometry.height() < kMaxSide && std::abs(geometry.x()) < kMaxSide &&
      std::abs(geometry.y()) < kMaxSide)
    loaded.geometry = geometry;
  return loaded;
}

bool saveMonitorSettings(const QString& dvrKey, const MonitorSettings& settings) {
  if (platform::ensureDataDirectory().isEmpty()) return false;
  QSettings file(platform::dataFilePath(kFileName), QSettings::IniFormat);
  file.beginGroup(groupOf(dvrKey));
  if (settings.layout)
    file.setValue(QStringLiteral("layout"),
                  QString::fromStdString(gridLayoutName(*settings.layout)));
  if (settings.channels)
    file.setValue(QStringLiteral("channels"),
                  QString::fromStdString(formatChannelList(*settings.channels)));
  if (settings.geometry) file.setValue(QStringLiteral("geometry"), *settings.geometry);
  file.endGroup();
  file.sync();
  return file.status() == QSettings::NoError;
}

bool loadMonitorReconnect() {
  QSettings file(platform::dataFilePath(kFileName), QSettings::IniFormat);
  const QString value = file.value(QStringLiteral("reconnect")).toString();
  return value != QStringLiteral("false");
}

bool saveMonitorReconnect(bool on) {
  if (platform::ensureDataDirectory().isEmpty()) return false;
  QSettings file(platform::dataFilePath(kFileName), QSettings::IniFormat);
  file.setValue(QStringLiteral("reconnect"), on ? QStringLiteral("true") : QStringLiteral("false"));
  file.sync();
  return file.status() == QSettings::NoError;
}
