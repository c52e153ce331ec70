#pragma once
// End-to-end tests of the monitor window: the real window (offscreen) against dvr-emulator in
// this process. The emulator records what it received and counts per channel what it served;
// its pictures are distinct per channel, so a tile's pixels tell which channel it shows.
#include <gtest/gtest.h>

#include <QImage>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/recording_wave_out.h"
#include "dvr_emulator.h"
#include "monitor/monitor_window.h"

namespace monitor_e2e {

// What the emulator received.
class WireLog {
 public:
  void record(const dvremu::WireEvent& event);
  std::vector<std::vector<uint8_t>> bodies(uint32_t command) const;
  // Distinct connections of a kind ("control", "live", "audio", "notice").
  size_t connections(const std::string& kind) const;

 private:
  mutable std::mutex mutex_;
  std::vector<dvremu::WireEvent> events_;
};

class MonitorTest : public ::testing::Test {
 protected:
  // Emulator options beyond the defaults (user demo/demo, 4 channels at 10 fps, no alive checks);
  // set in the constructor or before start().
  std::vector<std::string> emulatorArgs;

  void SetUp() override;
  void TearDown() override;

  // Starts the emulator and builds and shows a window of 1280x720.
  void start();
  // The DVR goes away (every connection closed, the port shut), and comes back on the same port.
  void stopEmulator();
  void restartEmulator();
  // A new window (the old one closed first), as a restart of the viewer would make.
  void newWindow();
  void connect();
  void connectAndWait();
  CMonitorWindow& window() { return *window_; }
  uint16_t port() const { return port_; }
  std::string command(const std::string& line) { return emulator_->execute(line); }
  dvremu::EmulatorStats& stats() { return emulator_->core().stats(); }

  bool waitFor(const std::function<bool()>& done, int timeoutMs = 8000);
  // Every tile that shows a channel has a picture (or, with unavailableOk, says "Not
  // available").
  bool waitForPictures(int timeoutMs = 8000);

  WireLog wire;
  CRecordingWaveOut waveOut;
  // The test's data folder, also the window's folder of snapshots and recordings.
  const QString& dataDir() const { return dataDir_; }

 private:
  void startEmulator(const std::string& listen);
  std::unique_ptr<dvremu::DvrEmulator> emulator_;
  uint16_t port_ = 0;
  std::unique_ptr<CMonitorWindow> window_;
  QString dataDir_;
};

// The channel (0-based) whose emulator picture is closest to a tile's picture, and how much
// closer it is than the next best (the ratio of their mean differences).
struct Match {
  int channel = -1;
  double margin = 0;
};
Match identify(const QImage& picture, int channels);

// Clicks and keys as a user gives them.
void click(QWidget* widget, bool twice = false);
void key(QWidget* widget, int key, bool press);

}  // namespace monitor_e2e
