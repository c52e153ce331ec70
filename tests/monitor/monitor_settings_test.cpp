#include "monitor/monitor_settings.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/data_directory.h"

namespace {
class MonitorSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    platform::setDataDirectoryOverride(dir_.path());
  }
  void TearDown() override { platform::setDataDirectoryOverride(QString()); }
  QString file() const { return dir_.filePath(QStringLiteral("monitor.conf")); }

 private:
  QTemporaryDir dir_;
};

TEST_F(MonitorSettingsTest, RememberedPerDvr) {
  const QString first = monitorSettingsKey(QStringLiteral("10.0.0.5"), 9000);
  const QString second = monitorSettingsKey(QStringLiteral("10.0.0.5"), 9001);
  MonitorSettings settings;
  settings.layout = GridLayout::OnePlusSeven;
  settings.channels = std::vector<int>{2, -1, 15};
  settings.geometry = QRect(10, 20, 1280, 720);
  ASSERT_TRUE(saveMonitorSettings(first, settings));
  const MonitorSettings loaded = loadMonitorSettings(first);
  EXPECT_EQ(loaded.layout, GridLayout::OnePlusSeven);
  EXPECT_EQ(loaded.channels, (std::vector<int>{2, -1, 15}));
  EXPECT_EQ(loaded.geometry, QRect(10, 20, 1280, 720));
  // Another port is another DVR.
  const MonitorSettings other = loadMonitorSettings(second);
  EXPECT_FALSE(other.layout);
  EXPECT_FALSE(other.channels);
  EXPECT_FALSE(other.geometry);
}

TEST_F(MonitorSettingsTest, DamagedValuesAreIgnored) {
  QFile damaged(file());
  ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
  damaged.write(
      "[dvr-10.0.0.5_9000]\nlayout=5\nchannels=1,99,x\ngeometry=@Rect(0 0 -5 99999999)\n");
  damaged.close();
  const MonitorSettings loaded =
      loadMonitorSettings(monitorSettingsKey(QStringLiteral("10.0.0.5"), 9000));
  EXPECT_FALSE(loaded.layout);
  EXPECT_FALSE(loaded.channels);
  EXPECT_FALSE(loaded.geometry);
}

// Reconnecting is on until the user switches it off, and a damaged value doesn't switch it off.
TEST_F(MonitorSettingsTest, ReconnectIsOnUnlessSwitchedOff) {
  EXPECT_TRUE(loadMonitorReconnect());
  ASSERT_TRUE(saveMonitorReconnect(false));
  EXPECT_FALSE(loadMonitorReconnect());
  // Beside a DVR's own settings, which don't disturb it.
  MonitorSettings settings;
  settings.layout = GridLayout::Four;
  ASSERT_TRUE(saveMonitorSettings(monitorSettingsKey(QStringLiteral("10.0.0.5"), 9000), settings));
  EXPECT_FALSE(loadMonitorReconnect());
  ASSERT_TRUE(saveMonitorReconnect(true));
  EXPECT_TRUE(loadMonitorReconnect());
  QFile damaged(file());
  ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
  damaged.write("[General]\nreconnect=@Invalid(\n");
  damaged.close();
  EXPECT_TRUE(loadMonitorReconnect());
}
}  // namespace
