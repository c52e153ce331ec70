#pragma once
// End-to-end tests: the real main window (offscreen) against dvr-emulator running in this
// process. The emulator records every message it receives, so a test can check what the viewer
// sent, in order, byte for byte.
#include <gtest/gtest.h>

#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/viewer_dlg.h"
#include "audio/recording_wave_out.h"
#include "dvr_emulator.h"
#include "platform/dialog_host.h"
#include "platform/display_qt_backend.h"

namespace e2e {

// What the emulator received from the viewer.
class WireRecorder {
 public:
  void record(const dvremu::WireEvent& event);
  // Command names received on connections of a kind ("control", "live", "audio"), in order;
  // frame pulls and alive-check answers left out.
  std::vector<std::string> requests(const std::string& kind = "control") const;
  // Bodies of every message with that command.
  std::vector<std::vector<uint8_t>> bodies(uint32_t command) const;
  size_t count(uint32_t command) const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::vector<dvremu::WireEvent> events_;
};

class ViewerTest : public ::testing::Test {
 protected:
  // Emulator options beyond the test defaults (user demo/demo, 4 channels, 25 fps, no alive
  // checks); override before SetUp runs by setting emulatorArgs in the constructor.
  std::vector<std::string> emulatorArgs;
  CViewerDlg::Services services;

  void SetUp() override;
  void TearDown() override;

  // Starts the emulator and builds, initialises and shows the window.
  void start();
  std::string command(const std::string& line);
  uint16_t port() const;
  // The DVR goes away (every connection closed, nothing listening) and comes back on the same
  // port with the same options and fresh statistics.
  void stopEmulator();
  void restartEmulator();

  // Presses Connect; the Connect dialog is answered with the emulator's address and the account.
  void pressConnect(const std::string& user = "demo", const std::string& password = "demo");
  // Connect and wait for "%s Connected.".
  void connectAndWait();
  void press(int controlId);
  // Presses channel n (0..15) and waits until it shows.
  bool showChannel(int channel, int timeoutMs = 5000);

  bool waitFor(const std::function<bool()>& done, int timeoutMs = 5000);
  bool waitForStatus(const QString& text, int timeoutMs = 5000);
  QString address() const { return QStringLiteral("127.0.0.1"); }
  std::vector<QString> messages() const;

  // A loopback port with no listener (for refused connects).
  static uint16_t unusedLoopbackPort();
  uint16_t connectPort = 0;  // non-zero: the port the Connect dialog is answered with

  CViewerDlg& window() { return *window_; }
  WireRecorder recorder;
  CRecordingDialogHost dialogs;
  CRecordingWaveOut waveOut;
  std::function<int(QDialog&)> onOtherDialog;  // dialogs other than Connect (default: rejected)

 private:
  void startEmulator(const std::string& listen);
  std::unique_ptr<dvremu::DvrEmulator> emulator_;
  uint16_t port_ = 0;
  std::unique_ptr<CQtDisplayBackend> backend_;
  std::unique_ptr<CViewerDlg> window_;
  std::string user_ = "demo";
  std::string password_ = "demo";
  QString dataDir_;
};

}  // namespace e2e
