// The monitor window connecting again by itself: a DVR that goes away and comes back on the same
// port, a refused password, and a user who ends the wait.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include "monitor/monitor_reconnect.h"
#include "monitor/tile_widget.h"
#include "monitor_e2e/monitor_fixture.h"
#include "protocol/command_codes.h"
#include "support/run_program.h"
#include "ui/connect_dlg.h"

namespace monitor_e2e {
namespace {

class MonitorReconnectTest : public MonitorTest {
 protected:
  bool waiting() {
    return window().statusText().startsWith(QStringLiteral("127.0.0.1 Reconnecting in "));
  }
  // Every tile that shows a channel carries the countdown.
  bool tilesMarked() {
    for (int index = 0; index < window().tileCount(); ++index) {
      const CTileWidget* tile = window().tile(index);
      if (tile->channel() >= 0 && tile->stateText() != window().statusText()) return false;
    }
    return true;
  }
};

TEST_F(MonitorReconnectTest, ADvrThatComesBackShowsTheSamePageChannelsFocusAudioAndRecording) {
  emulatorArgs = {"--channels", "8"};
  start();
  window().reconnect().setFirstWait(std::chrono::milliseconds(300));
  window().setGridLayout(GridLayout::Four);
  connectAndWait();
  // The second page of the DVR's eight channels, tile 1 switched to channel 1, the focus on
  // channel 7's tile, its audio on and recorded, full screen.
  window().nextPage();
  window().assignChannel(1, 0);
  window().setFocusTile(2);
  window().setAudio(true);
  window().setFullScreen(true);
  const std::vector<int> shown = {4, 0, 6, 7};
  ASSERT_EQ(window().pages().pageChannels(), shown);
  ASSERT_TRUE(waitForPictures());
  window().toggleRecording();
  ASSERT_EQ(window().recordingChannel(), 6);
  // Recordings of channel 7 that hold pictures.
  const auto recordings = [&] {
    int written = 0;
    for (const QFileInfo& file :
         QDir(dataDir()).entryInfoList({QStringLiteral("*-ch07-*.mkv")}, QDir::Files))
      written += file.size() > 10000 ? 1 : 0;
    return written;
  };
  ASSERT_TRUE(waitFor([&] { return recordings() == 1 && waveOut.calls().size() > 3; }));

  stopEmulator();
  ASSERT_TRUE(waitFor([&] { return waiting(); })) << window().statusText().toStdString();
  EXPECT_TRUE(tilesMarked());
  EXPECT_EQ(window().recordingChannel(), -1);
  // The first attempt meets a closed port; the second wait follows it.
  ASSERT_TRUE(waitFor([&] { return window().statusText().endsWith("(attempt 2)"); }, 5000))
      << window().statusText().toStdString();
  EXPECT_TRUE(tilesMarked());

  restartEmulator();
  ASSERT_TRUE(waitFor([&] { return window().phase() == SessionPhase::Ready; }, 8000))
      << window().statusText().toStdString();
  EXPECT_TRUE(window().tileMark().isEmpty());
  ASSERT_TRUE(waitForPictures());
  EXPECT_EQ(window().gridLayout(), GridLayout::Four);
  EXPECT_EQ(window().pages().page(), 1);
  EXPECT_EQ(window().pages().pageChannels(), shown);
  EXPECT_EQ(window().focusTile(), 2);
  EXPECT_TRUE(window().audioOn());
  EXPECT_TRUE(window().isFullScreen());
  for (int index = 0; index < 4; ++index) {
    const auto match = identify(window().tile(index)->picture(), 8);
    EXPECT_EQ(match.channel, shown[static_cast<size_t>(index)]) << "tile " << index;
  }
  // The DVR that came back serves the page's channels and no others, and the focused tile's
  // audio (channel 7, counted from 1 on the wire).
  ASSERT_TRUE(waitFor([&] {
    for (const int channel : shown)
      if (stats().channelFrames[static_cast<size_t>(channel)].load() == 0) return false;
    return true;
  }));
  for (const int channel : {1, 2, 3, 5})
    EXPECT_EQ(stats().channelRequests[static_cast<size_t>(channel)].load(), 0u) << channel;
  ASSERT_TRUE(waitFor([&] { return stats().audioBlocksSent.load() > 0; }));
  EXPECT_EQ(wire.bodies(REQ_AUDIOCHANNEL).back().at(0), 7);
  // The recording goes on in a second file.
  EXPECT_EQ(window().recordingChannel(), 6);
  EXPECT_TRUE(waitFor([&] { return recordings() == 2; }))
      << QDir(dataDir()).entryList(QDir::Files).join(' ').toStdString();
}

TEST_F(MonitorReconnectTest, AWrongPasswordIsTriedExactlyOnce) {
  start();
  window().reconnect().setFirstWait(std::chrono::milliseconds(50));
  int refusals = 0;
  QObject::connect(&window().reconnect(), &CMonitorReconnect::refusedForGood,
                   [&](int) { ++refusals; });
  SessionTarget target;
  target.address = "127.0.0.1";
  target.port = port();
  target.userId = "demo";
  target.password = "wrong";
  ASSERT_TRUE(window().connectTo(target));
  ASSERT_TRUE(waitFor([&] { return refusals > 0; }));
  // Fifty times the first wait: retries would have come long since.
  waitFor([] { return false; }, 2500);
  EXPECT_EQ(refusals, 1);
  EXPECT_EQ(stats().loginsRefused.load(), 1u);
  EXPECT_FALSE(window().reconnect().waiting());
  EXPECT_FALSE(waiting());
  EXPECT_EQ(window().phase(), SessionPhase::Idle);
}

// Disconnect, and a Connect whose dialog the user then cancels, each end the wait.
TEST_F(MonitorReconnectTest, AConnectOrDisconnectByTheUserEndsTheWait) {
  start();
  window().reconnect().setFirstWait(std::chrono::milliseconds(2000));
  for (const bool viaConnect : {false, true}) {
    SCOPED_TRACE(viaConnect ? "Connect" : "Disconnect");
    connectAndWait();
    command("drop all");
    ASSERT_TRUE(waitFor([&] { return waiting(); }));
    ASSERT_EQ(window().phase(), SessionPhase::Idle);
    const uint64_t connections = stats().connectionsAccepted.load();
    if (viaConnect) {
      QTimer::singleShot(200, &window(), [this] {
        if (auto* dialog = window().findChild<CConnectDlg*>()) dialog->reject();
      });
      window().showConnectDialog();
    } else {
      window().disconnectSession();
    }
    EXPECT_FALSE(window().reconnect().waiting());
    EXPECT_FALSE(waiting());
    EXPECT_TRUE(window().tileMark().isEmpty());
    // Past the longest the wait could have been (2.4 s): no attempt, no countdown.
    EXPECT_FALSE(waitFor(
        [&] { return stats().connectionsAccepted.load() > connections || waiting(); }, 3000));
    EXPECT_EQ(window().phase(), SessionPhase::Idle);
  }
}

// A kiosk run refused for its password says so once on stderr and never tries again; the run
// ends as one that never connected.
TEST_F(MonitorReconnectTest, AKioskRunRefusedForItsPasswordTellsItOnce) {
  start();
  QTemporaryDir dir;
  const QString passwordFile = dir.filePath(QStringLiteral("password"));
  QFile file(passwordFile);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("wrong\n");
  file.close();
  file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
  const std::vector<std::string> args = {"--monitor",
                                         "--connect",
                                         "127.0.0.1:" + std::to_string(port()),
                                         "--user",
                                         "demo",
                                         "--password-file",
                                         passwordFile.toStdString(),
                                         "--reconnect",
                                         "--reconnect-first-wait-ms",
                                         "50",
                                         "--quit-after",
                                         "3",
                                         "--data-dir",
                                         dir.path().toStdString()};
  const auto run = testing_support::runProgram(
      QStringLiteral(PV_BINARY_DIR "/src/pelloxview"), args,
      {"QT_QPA_PLATFORM=offscreen", "DISPLAY=", "WAYLAND_DISPLAY=", "PELLOXVIEW_PASSWORD="}, 60000);
  EXPECT_EQ(run.exitCode, 3) << run.err;
  const QString err = QString::fromStdString(run.err);
  EXPECT_EQ(err.count(QStringLiteral("refused the login")), 1) << run.err;
  EXPECT_TRUE(err.contains(QStringLiteral("not reconnecting"))) << run.err;
  EXPECT_EQ(stats().loginsRefused.load(), 1u);
}

}  // namespace
}  // namespace monitor_e2e
