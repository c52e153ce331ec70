// The camera panel and the audio switch end to end.
#include <QCoreApplication>
#include <QMouseEvent>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "app/control_ids.h"
#include "audio/audio_dlg.h"
#include "e2e/viewer_fixture.h"
#include "platform/wave_out/wav_file_wave_out.h"
#include "protocol/command_codes.h"
#include "protocol/dvr_client.h"
#include "ui/hover_button.h"

namespace e2e {
namespace {

using Requests = std::vector<std::string>;

// (channel, code, value) of every REQ_PTZCONTROL received.
std::vector<std::array<int, 3>> ptzCommands(const WireRecorder& recorder) {
  std::vector<std::array<int, 3>> commands;
  for (const auto& body : recorder.bodies(REQ_PTZCONTROL)) {
    if (body.size() == 67) commands.push_back({body[64], body[65], body[66]});
  }
  return commands;
}

// A pen event as the platform delivers it: through the application, its filter first.
void pen(QWidget* target, bool down, QPoint at = QPoint(2, 2)) {
  QMouseEvent event(down ? QEvent::MouseButtonPress : QEvent::MouseButtonRelease, at,
                    target->mapToGlobal(at), Qt::LeftButton, down ? Qt::LeftButton : Qt::NoButton,
                    Qt::NoModifier);
  QCoreApplication::sendEvent(target, &event);
}

class CameraAudioTest : public ViewerTest {
 protected:
  void pressAndRelease(int controlId) {
    QWidget* button = window().hoverButton(controlId);
    pen(button, true);
    pen(button, false);
  }
};

TEST_F(CameraAudioTest, HoldingButtonsSendsMoveThenStop) {
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(1));
  ASSERT_TRUE(window().hoverButton(ctl::kPlus)->isVisible());
  pressAndRelease(ctl::kPlus);
  pressAndRelease(ctl::kUp);
  pressAndRelease(ctl::kGreaterThan);
  pressAndRelease(ctl::kLeft);
  ASSERT_TRUE(waitFor([&] { return ptzCommands(recorder).size() == 8; }));
  const std::vector<std::array<int, 3>> expected = {{1, 5, 0}, {1, 9, 0}, {1, 1, 0}, {1, 0, 0},
                                                    {1, 8, 0}, {1, 9, 0}, {1, 3, 0}, {1, 0, 0}};
  EXPECT_EQ(ptzCommands(recorder), expected);
  EXPECT_FALSE(window().ptzMoving());
  EXPECT_EQ(window().hoverButton(ctl::kPlus)->state(), 2);
}

TEST_F(CameraAudioTest, ReleaseAnywhereStopsTheCamera) {
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(0));
  pen(window().hoverButton(ctl::kMinus), true);
  EXPECT_TRUE(window().ptzMoving());
  // The pen comes up over the window's background, not over a camera button.
  pen(&window(), false, QPoint(200, 150));
  ASSERT_TRUE(waitFor([&] { return ptzCommands(recorder).size() == 2; }));
  EXPECT_EQ(ptzCommands(recorder)[1], (std::array<int, 3>{0, 9, 0}));
  EXPECT_FALSE(window().ptzMoving());
}

TEST_F(CameraAudioTest, PresetsHighlightAndRepeatNothing) {
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(0));
  pressAndRelease(ctl::kFirstPreset + 2);
  pressAndRelease(ctl::kFirstPreset + 2);  // already highlighted: nothing
  pressAndRelease(ctl::kFirstPreset + 5);
  ASSERT_TRUE(waitFor([&] { return ptzCommands(recorder).size() == 2; }));
  EXPECT_EQ(ptzCommands(recorder), (std::vector<std::array<int, 3>>{{0, 21, 3}, {0, 21, 6}}));
  EXPECT_EQ(window().activePreset(), ctl::kFirstPreset + 5);
  EXPECT_EQ(window().hoverButton(ctl::kFirstPreset + 5)->state(), 1);
  EXPECT_EQ(window().hoverButton(ctl::kFirstPreset + 2)->state(), 2);
}

TEST_F(CameraAudioTest, ChannelWithoutCameraHidesThePanelAndSendsNothing) {
  emulatorArgs = {"--ptz-mask", "0x1"};
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(1));
  EXPECT_FALSE(window().hoverButton(ctl::kPlus)->isVisible());
  EXPECT_FALSE(window().hoverButton(ctl::kFirstPreset)->isVisible());
  ASSERT_TRUE(showChannel(0));
  EXPECT_TRUE(window().hoverButton(ctl::kPlus)->isVisible());
}

TEST_F(CameraAudioTest, BusyCameraShowsTheExclamationBox) {
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(0));
  command("fail RSP_PTZCONTROL");
  pressAndRelease(ctl::kFirstPreset);
  ASSERT_TRUE(waitFor([&] { return !dialogs.messages().empty(); }));
  EXPECT_EQ(dialogs.messages()[0].text, "Already using PTZ Camera Control. Please check it again.");
  EXPECT_EQ(dialogs.messages()[0].icon, MessageIcon::Exclamation);
  EXPECT_TRUE(window().displayReady());
}

TEST_F(CameraAudioTest, AudioFollowsTheChannelAndStops) {
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(0));
  recorder.clear();
  press(ctl::kAudioOn);
  press(ctl::kAudioOn);  // twice: one REQ_AUDIOOPEN
  EXPECT_TRUE(window().hoverButton(ctl::kAudioOff)->isVisible());
  EXPECT_FALSE(window().hoverButton(ctl::kAudioOn)->isVisible());
  ASSERT_TRUE(waitFor([&] { return recorder.count(REQ_AUDIOSELECT) == 1; }));
  EXPECT_EQ(recorder.requests("control"),
            (Requests{"REQ_AUDIOOPEN", "REQ_AUDIOSTART", "REQ_AUDIOCHANNEL", "REQ_AUDIOSELECT"}));
  EXPECT_EQ(recorder.bodies(REQ_AUDIOCHANNEL)[0][0], 1);
  // Blocks reach the player.
  ASSERT_TRUE(waitFor([&] { return !waveOut.played().empty() || waveOut.calls().size() > 8; }));

  recorder.clear();
  ASSERT_TRUE(showChannel(2));
  ASSERT_TRUE(waitFor([&] { return recorder.count(REQ_AUDIOSELECT) == 1; }));
  const auto control = recorder.requests("control");
  const auto stop = std::find(control.begin(), control.end(), "REQ_AUDIOSTOP");
  ASSERT_NE(stop, control.end());
  EXPECT_EQ(std::vector<std::string>(stop, control.end()),
            (Requests{"REQ_AUDIOSTOP", "REQ_AUDIOCHANNEL", "REQ_AUDIOSELECT"}));
  EXPECT_EQ(recorder.bodies(REQ_AUDIOCHANNEL).back()[0], 3);

  recorder.clear();
  press(ctl::kAudioOff);
  EXPECT_FALSE(window().audioOn());
  EXPECT_TRUE(window().hoverButton(ctl::kAudioOn)->isVisible());
  ASSERT_TRUE(waitFor([&] { return recorder.count(REQ_AUDIOCLOSE) == 1; }));
  EXPECT_FALSE(window().client()->audio().isConnected());
}

// The whole 200 ms blocks of a WAV file, in the order they were played.
std::vector<std::vector<uint8_t>> wavBlocks(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  constexpr size_t kHeader = 44, kBlock = 3200;
  std::vector<std::vector<uint8_t>> blocks;
  for (size_t at = kHeader; at + kBlock <= bytes.size(); at += kBlock)
    blocks.emplace_back(bytes.begin() + ptrdiff_t(at), bytes.begin() + ptrdiff_t(at + kBlock));
  return blocks;
}

bool silent(const std::vector<uint8_t>& block) {
  return std::all_of(block.begin(), block.end(), [](uint8_t b) { return b == 0; });
}

// Blocks from the first one that carries sound on.
std::vector<std::vector<uint8_t>> soundFromFirstBlock(const std::string& path) {
  auto blocks = wavBlocks(path);
  const auto first = std::find_if_not(blocks.begin(), blocks.end(), silent);
  return {first, blocks.end()};
}

size_t soundingBlocks(const std::string& path) {
  const auto blocks = wavBlocks(path);
  return size_t(
      std::count_if(blocks.begin(), blocks.end(), [](const auto& b) { return !silent(b); }));
}

// Audio into a WAV file, which takes every accepted block at once; it outlives the window.
class WavAudioTest : public CameraAudioTest {
 protected:
  void SetUp() override {
    CameraAudioTest::SetUp();
    services.waveOut = &wav;
  }
  QTemporaryDir dir;
  const std::string path = dir.filePath("audio.wav").toStdString();
  platform::CWavFileWaveOut wav{path};
};

TEST_F(WavAudioTest, AudioCodecSwitchesContinueTheSound) {
  emulatorArgs = {"--audio-source", "tones"};  // a melody: no 200 ms stretch is silent
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(0));
  press(ctl::kAudioOn);
  ASSERT_TRUE(waitFor([&] { return soundingBlocks(path) >= 3; }, 8000));

  size_t before = soundingBlocks(path);
  command("audio-codec adpcm");
  ASSERT_TRUE(waitFor([&] { return soundingBlocks(path) >= before + 4; }, 8000));
  before = soundingBlocks(path);
  command("audio-codec g726");
  ASSERT_TRUE(waitFor([&] { return soundingBlocks(path) >= before + 4; }, 8000));
  press(ctl::kAudioOff);

  // Each block the DVR sent plays once, straight after the one before: no filler and no
  // block played twice around the switches.
  const auto played = soundFromFirstBlock(path);
  for (size_t i = 0; i < played.size(); ++i) {
    EXPECT_FALSE(silent(played[i])) << "block " << i << " of " << played.size() << " is silent";
    EXPECT_TRUE(i == 0 || played[i] != played[i - 1]) << "block " << i << " repeats";
  }
}

// Blocks sent up to 40 ms late play without a gap: the player's own counters see no underrun
// once playback has started, and the delay stays inside its bounds. The first blocks arrive
// before any jitter has been measured, with only the margin to cover them, and a loaded machine
// that stalls the sender or the receiver makes gaps no delay covers: a window with a gap is
// measured again, from fresh counters, with the jitter learnt, up to three windows. A delay that
// doesn't cover the jitter leaves gaps in every window.
TEST_F(WavAudioTest, LateBlocksPlayWithoutGaps) {
  emulatorArgs = {"--audio-source", "tones", "--audio-jitter", "40"};
  start();
  connectAndWait();
  ASSERT_TRUE(showChannel(0));
  press(ctl::kAudioOn);
  CAudioPlayer& player = window().audioWindow().player();
  JitterBufferStats stats;
  for (int window = 0; window < 3; ++window) {
    if (window > 0) {
      std::printf("a gap of %d ms in window %d: measuring again\n",
                  int(stats.longestGapSamples / 8), window);
      player.clearPlayoutCounters();
    }
    ASSERT_TRUE(waitFor([&] { return player.playoutStats().arrivals >= 25; }, 15000));  // 5 s
    stats = player.playoutStats();
    if (stats.underruns == 0) break;
  }
  press(ctl::kAudioOff);
  EXPECT_TRUE(stats.playing);
  EXPECT_EQ(stats.underruns, 0u) << "longest gap " << stats.longestGapSamples / 8 << " ms";
  EXPECT_EQ(stats.overflowDropped, 0u);
  EXPECT_GE(stats.targetDelayMs, 120);
  EXPECT_LE(stats.targetDelayMs, 250);
  EXPECT_GE(stats.jitterMs, 10);  // the lateness was seen
  EXPECT_GE(soundingBlocks(path), 15u);
}

TEST_F(CameraAudioTest, VolumeSetsBothHalves) {
  start();
  platform::sendMessage(window().windowId(), 10025, ctl::kVolume, 0x1234);
  EXPECT_EQ(window().volume(), 0x1234u);
  uint32_t level = 0;
  waveOut.getVolume(0, &level);
  EXPECT_EQ(level, 0x12341234u);
}

}  // namespace
}  // namespace e2e
