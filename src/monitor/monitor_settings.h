#pragma once
// What the monitor remembers per DVR (address:port): the last layout, the channel list and the
// window's geometry. Kept in monitor.conf (INI) in the data directory beside the viewer's other
// files. A value that doesn't parse is ignored, never trusted.
#include <QRect>
#include <QString>

#include <optional>
#include <vector>

#include "monitor/grid_layout.h"

struct MonitorSettings {
  std::optional<GridLayout> layout;
  std::optional<std::vector<int>> channels;  // counted from 0, -1 for empty tiles
  std::optional<QRect> geometry;             // the window's normal geometry
};

// The DVR's key: "address:port".
QString monitorSettingsKey(const QString& address, uint16_t port);
MonitorSettings loadMonitorSettings(const QString& dvrKey);
bool saveMonitorSettings(const QString& dvrKey, const MonitorSettings& settings);

// Whether the monitor connects again by itself after a lost session (on unless switched off);
// one choice for every DVR.
bool loadMonitorReconnect();
bool saveMonitorReconnect(bool on);
