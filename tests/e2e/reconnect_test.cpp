// A kiosk run with --reconnect against a DVR that goes away and comes back, that refuses for
// too many users, and a user who ends the wait: the real window and its kiosk session, offscreen.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <regex>

#include "app/command_line.h"
#include "app/control_ids.h"
#include "app/kiosk_session.h"
#include "app/run_outcome.h"
#include "e2e/viewer_fixture.h"
#include "protocol/command_codes.h"
#include "recording/live_tap.h"
#include "ui/connect_dlg.h"
#include "ui/hover_button.h"

namespace e2e {
namespace {

// A figure of the emulator's stats, e.g. "audio-blocks"; -1 when absent.
long long statOf(const std::string& stats, const std::string& name) {
  std::smatch match;
  if (!std::regex_search(stats, match, std::regex("  " + name + " ([0-9]+)\n"))) return -1;
  return std::stoll(match[1]);
}

class ReconnectTest : public ViewerTest {
 protected:
  CommandLineOptions options;
  CRunOutcome outcome;
  std::unique_ptr<CKioskSession> kiosk;
  // When each attempt began ("... Connecting..." shown), in ms since the kiosk started.
  std::vector<qint64> attemptTimes;
  QElapsedTimer clock;

  void startKiosk() {
    options.reconnect = true;
    kiosk = std::make_unique<CKioskSession>(
        window(), options, CKioskSession::Target{address(), port(), "demo", "demo"}, outcome);
    auto kioskHook = window().onStatusText;
    window().onStatusText = [this, kioskHook](const QString& text) {
      if (text == address() + QStringLiteral(" Connecting..."))
        attemptTimes.push_back(clock.elapsed());
      kioskHook(text);
    };
    clock.start();
    kiosk->start();
  }
  void TearDown() override {
    kiosk.reset();  // before the window it observes
    ViewerTest::TearDown();
  }
  bool waiting() { return window().statusText().startsWith(address() + " Reconnecting in "); }
  bool statusSeen(const QString& text) { return kiosk->statusTexts().contains(text); }
  size_t writesPlayed() {
    const auto calls = waveOut.calls();
    return static_cast<size_t>(
        std::count_if(calls.begin(), calls.end(), [](const auto& c) { return c.op == "write"; }));
  }
};

TEST_F(ReconnectTest, ADvrThatComesBackShowsTheSameChannelAudioAndRecordingAgain) {
  start();
  QTemporaryDir dir;
  const std::string clip = dir.path().toStdString() + "/clip.mkv";
  window().recordOnNextPicture(clip);
  options.channel = 2;
  options.audio = true;
  options.reconnectFirstWaitMs = 300;
  startKiosk();
  const auto channelTwoWithAudio = [&] {
    return window().shownChannel() == 1 && window().liveReady() && window().audioOn() &&
           window().isConnected();
  };
  ASSERT_TRUE(waitFor([&] { return channelTwoWithAudio() && writesPlayed() > 2; }, 10000));
  ASSERT_TRUE(waitFor([&] {
    return window().liveTap()->recording() && window().liveTap()->recordingStats().videoFrames > 2;
  }));

  stopEmulator();
  ASSERT_TRUE(waitFor([&] { return waiting(); }));
  // Meanwhile Disconnect is there to end the wait, Connect is not.
  EXPECT_TRUE(window().hoverButton(ctl::kDisconnect)->isVisible());
  EXPECT_FALSE(window().hoverButton(ctl::kConnect)->isVisible());
  // The first attempt meets a closed port; the second wait follows it.
  ASSERT_TRUE(waitFor([&] { return window().statusText().endsWith("(attempt 2)"); }, 5000))
      << window().statusText().toStdString();
  EXPECT_TRUE(statusSeen(address() + " Reconnecting in 1 s (attempt 1)"));
  EXPECT_FALSE(window().liveTap()->recording());

  recorder.clear();
  restartEmulator();
  ASSERT_TRUE(waitFor(channelTwoWithAudio, 8000)) << window().statusText().toStdString();
  ASSERT_TRUE(waitFor([&] { return recorder.count(REQ_AUDIOCHANNEL) > 0; }));
  // Seconds 0.6 and 1.2 (each +-20 %) are the waits left: well within eight seconds.
  EXPECT_LE(attemptTimes.size(), 5u);
  // Channel 2 (mask bit 1) and its audio (channel number 2) asked for again of the new DVR.
  EXPECT_EQ(recorder.bodies(REQ_LIVESTART).back().at(3), 0x02);
  EXPECT_EQ(recorder.bodies(REQ_AUDIOCHANNEL).back().at(0), 2);
  // The DVR served the channel's pictures and audio blocks again.
  EXPECT_TRUE(waitFor([&] {
    const std::string stats = command("stats");
    return statOf(stats, "audio-blocks") > 0 &&
           stats.find("channel 2 requests") != std::string::npos;
  }));
  // The recording goes on in a second file beside the first.
  const std::string second = dir.path().toStdString() + "/clip-2.mkv";
  EXPECT_TRUE(waitFor([&] {
    return window().liveTap()->recording() && QFile::exists(second.c_str());
  })) << QDir(dir.path()).entryList(QDir::Files).join(' ').toStdString()
      << " | " << kiosk->statusTexts().join(" | ").toStdString();
  EXPECT_TRUE(QFile::exists(clip.c_str()));
}

// Full screen comes back too. The full-screen view runs modally, so a timer watches it: the
// first time it shows, the DVR drops the session; the second time, the test leaves it.
TEST_F(ReconnectTest, FullScreenComesBackAfterTheReconnect) {
  start();
  options.channel = 1;
  options.fullScreen = true;
  options.reconnectFirstWaitMs = 200;
  int fullScreens = 0;
  bool wasFull = false;
  QTimer watch;
  watch.setInterval(50);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    const bool full = window().fullScreen() && window().shownChannel() == 0;
    if (full && !wasFull && ++fullScreens == 1) command("drop all");
    if (full && fullScreens == 2) window().leaveFullScreen();
    wasFull = full;
  });
  watch.start();
  startKiosk();
  EXPECT_TRUE(waitFor([&] { return fullScreens == 2 && !window().fullScreen(); }, 15000))
      << kiosk->statusTexts().join(" | ").toStdString();
  EXPECT_TRUE(statusSeen(address() + " Reconnecting in 1 s (attempt 1)"));
}

// Five refusals for too many users: attempts after 1, 2, 4, 8 and 16 times the first wait, each
// within 20 %, then the sixth gets in.
class TooManyUsersTest : public ReconnectTest {
 protected:
  TooManyUsersTest() {
    for (int i = 0; i < 5; ++i)
      emulatorArgs.insert(emulatorArgs.end(), {"--fault", "refuse-next 2050"});
  }
};

TEST_F(TooManyUsersTest, AttemptsAreSpacedByTheGrowingWaits) {
  start();
  options.reconnectFirstWaitMs = 150;
  startKiosk();
  ASSERT_TRUE(waitForStatus(address() + " Connected.", 12000))
      << window().statusText().toStdString();
  ASSERT_EQ(attemptTimes.size(), 6u);
  EXPECT_EQ(statOf(command("stats"), "logins-refused"), 5);
  for (size_t i = 1; i < attemptTimes.size(); ++i) {
    const double wait = 150.0 * (1 << (i - 1));
    const qint64 gap = attemptTimes[i] - attemptTimes[i - 1];
    // The refusal's round trip comes on top of the wait.
    EXPECT_GE(gap, static_cast<qint64>(wait * 0.8)) << "attempt " << i + 1;
    EXPECT_LE(gap, static_cast<qint64>(wait * 1.2) + 700) << "attempt " << i + 1;
  }
  // The last wait (1.9 to 2.9 s) counted down second by second.
  EXPECT_TRUE(statusSeen(address() + " Reconnecting in 2 s (attempt 5)"));
  EXPECT_TRUE(statusSeen(address() + " Reconnecting in 1 s (attempt 5)"));
}

// Disconnect, and a Connect whose dialog the user then cancels, each end the wait: no attempt
// follows and the window is back to "not connected".
TEST_F(ReconnectTest, AConnectOrDisconnectByTheUserEndsTheWait) {
  start();
  options.reconnectFirstWaitMs = 3000;
  for (const int userCommand : {ctl::kDisconnect, ctl::kConnect}) {
    SCOPED_TRACE(userCommand);
    kiosk.reset();
    startKiosk();
    ASSERT_TRUE(waitForStatus(address() + " Connected.", 8000));
    command("drop all");
    ASSERT_TRUE(waitFor([&] { return waiting(); }));
    const long long connections = statOf(command("stats"), "connections");
    if (userCommand == ctl::kConnect) {
      QTimer::singleShot(200, &window(), [this] { window().connectDialog().reject(); });
    }
    press(userCommand);
    EXPECT_EQ(window().statusText().toStdString(), "");
    EXPECT_TRUE(window().hoverButton(ctl::kConnect)->isVisible());
    EXPECT_FALSE(window().hoverButton(ctl::kDisconnect)->isVisible());
    // Past the longest the wait could have been (3.6 s): no attempt, no countdown.
    EXPECT_FALSE(waitFor(
        [&] { return statOf(command("stats"), "connections") > connections || waiting(); }, 4500));
    EXPECT_EQ(window().client(), nullptr);
  }
}

}  // namespace
}  // namespace e2e
