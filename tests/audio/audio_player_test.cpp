#include "audio/audio_player.h"

#include <gtest/gtest.h>
#include <spandsp.h>

#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "audio/audio_dlg.h"
#include "g726_reference.h"
#include "platform/messages.h"
#include "platform/wave_out/no_wave_out.h"
#include "platform/wave_out/wav_file_wave_out.h"
#include "recording_wave_out.h"
#include "test_helpers.h"

using namespace platform;

namespace {

// The device calls as "op:user" ("op" without a header), with "!result" when it is not
// kMmNoError (33: the block is still queued).
std::string trace(CRecordingWaveOut& device) {
  std::string out;
  for (const auto& c : device.calls()) {
    out += (out.empty() ? "" : " ") + c.op + (c.user >= 0 ? ":" + std::to_string(c.user) : "");
    if (c.result != kMmNoError) out += "!" + std::to_string(c.result);
  }
  return out;
}

std::vector<int16_t> asSamples(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> out(bytes.size() / 2);
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return out;
}

// Where `expected` starts in `played`, searched from the first sound on; npos if nowhere.
size_t findRun(const std::vector<int16_t>& played, const std::vector<int16_t>& expected) {
  const auto it = std::search(played.begin(), played.end(), expected.begin(), expected.end());
  return it == played.end() ? std::string::npos : size_t(it - played.begin());
}

// The player on a device that holds blocks until the test plays them, under a simulated clock.
class AudioPlayerTest : public ::testing::Test {
 protected:
  // Lets `ms` pass: the device plays a 20 ms block every 20 ms, the playout tops it up every
  // 5 ms.
  void run(int ms) {
    for (int t = 0; t < ms; t += 5) {
      nowUs += 5000;
      if (nowUs % 20000 == 0) device.playOne(player.device());
      player.servicePlayout();
    }
  }
  int64_t nowUs = 0;
  CRecordingWaveOut device;
  CAudioDlg dlg{&device, [this] { return nowUs; }};
  CAudioPlayer& player = dlg.player();
};

TEST_F(AudioPlayerTest, ThePlayoutKeepsFourShortBlocksQueuedAtTheDevicesPace) {
  ASSERT_EQ(player.open(kNoWindow), 0);
  EXPECT_EQ(trace(device), "open prepare:0 prepare:1 prepare:2 prepare:3 prepare:4");
  for (const auto& call : device.calls()) EXPECT_EQ(call.bufferLength, call.user < 0 ? 0 : 320u);

  device.clearCalls();
  pump();  // the open notification queues nothing by itself
  EXPECT_EQ(trace(device), "");
  player.servicePlayout();
  player.servicePlayout();
  EXPECT_EQ(trace(device), "write:0 write:1 write:2 write:3");
  // One block played, one queued in its place, round the ring.
  for (int k = 0; k < 3; ++k) {
    device.clearCalls();
    ASSERT_TRUE(device.playOne(player.device()));
    player.servicePlayout();
    EXPECT_EQ(trace(device), "write:" + std::to_string((4 + k) % 5));
  }
  // Nothing arrived: silence, not a single sample of anything else.
  const auto played = device.played();
  EXPECT_EQ(played, std::vector<uint8_t>(7 * 320, 0));
  EXPECT_EQ(player.playoutStats().underruns, 0u);
}

TEST_F(AudioPlayerTest, BlocksPlayInOrderAcrossACodecSwitchWithoutAGap) {
  ASSERT_EQ(player.open(kNoWindow), 0);
  const auto source = reference::speechLike(8000 * 3, 4);
  const auto g726 = reference::g726Encode(32000, G726_PACKING_RIGHT, source);
  const auto adpcm = reference::g726Encode(24000, G726_PACKING_RIGHT, source);
  std::vector<int16_t> expected = reference::g726Decode(32000, G726_PACKING_RIGHT, g726);
  expected.resize(8 * 1600);
  // Eight G.726 blocks, then the DVR switches to 3-bit codes: the audio connection only sets
  // the mode. The player's 3-bit decoder state is fresh, as spandsp's reference is.
  for (int k = 0; k < 8; ++k) {
    player.playG726(g726.data() + k * 800, 800);
    run(200);
  }
  player.setMode(AudioCodecMode::Adpcm);
  const auto tail = reference::g726Decode(24000, G726_PACKING_RIGHT, adpcm);
  for (int k = 0; k < 6; ++k) {
    player.playAdpcm(adpcm.data() + k * 600, 600);
    expected.insert(expected.end(), tail.begin() + k * 1600, tail.begin() + (k + 1) * 1600);
    run(200);
  }
  const auto stats = player.playoutStats();  // before the stream's end runs the buffer dry
  run(200);
  const auto played = asSamples(device.played());
  const size_t at = findRun(played, expected);
  ASSERT_NE(at, std::string::npos) << "the decoded blocks don't play back to back";
  // Heard after the start delay (the four queued blocks included), silence before.
  EXPECT_NEAR(double(at) / 8, 120, 25);
  EXPECT_TRUE(
      std::all_of(played.begin(), played.begin() + long(at), [](int16_t s) { return s == 0; }));
  EXPECT_EQ(stats.underruns, 0u);
  EXPECT_EQ(stats.arrivals, 14u);
}

TEST_F(AudioPlayerTest, OversizedPayloadsDecodeOneBlocksWorthAtMost) {
  ASSERT_EQ(player.open(kNoWindow), 0);
  const auto big = randomBytes(5000, 4);
  player.playG726(big.data(), 5000);  // 1024 bytes: 2048 samples
  EXPECT_EQ(player.playoutStats().heldMs, 256);
  player.playAdpcm(big.data(), 5000);  // 768 bytes: 2048 samples, over the 500 ms held
  player.playG726(nullptr, 0);
  player.playAdpcm(big.data(), 0);
  const auto stats = player.playoutStats();
  EXPECT_EQ(stats.arrivals, 2u);
  EXPECT_EQ(stats.heldMs, 500);
  EXPECT_EQ(stats.overflowDropped, 2 * 2048u - 4000);
}

TEST_F(AudioPlayerTest, CloseReturnsBlocksAndForgetsTheSound) {
  ASSERT_EQ(player.open(kNoWindow), 0);
  const WaveOutHandle h = player.device();
  const auto payload = randomBytes(800, 5);
  player.playG726(payload.data(), 800);
  run(60);
  player.setMode(AudioCodecMode::Adpcm);
  device.clearCalls();

  player.close();
  EXPECT_EQ(player.mode(), AudioCodecMode::G726);
  EXPECT_EQ(player.ring(), 0);
  EXPECT_EQ(player.device(), kNoWaveOut);
  EXPECT_EQ(trace(device),
            "reset unprepare:0 unprepare:1 unprepare:2 unprepare:3 unprepare:4 close");
  for (const auto& call : device.calls()) EXPECT_EQ(call.handle, h);
  EXPECT_EQ(player.playoutStats().heldMs, 0);

  // Audio on again: what was held for the old stream never plays.
  ASSERT_EQ(player.open(kNoWindow), 0);
  const size_t before = device.played().size();
  run(400);
  const auto played = device.played();
  EXPECT_TRUE(
      std::all_of(played.begin() + long(before), played.end(), [](uint8_t b) { return b == 0; }));

  // Closing a closed player only resets the mode and the ring.
  player.close();
  device.clearCalls();
  player.setMode(AudioCodecMode::Adpcm);
  player.close();
  EXPECT_TRUE(device.calls().empty());
  EXPECT_EQ(player.mode(), AudioCodecMode::G726);
}

// A close and an open before the old device's close notification arrives (audio off and on
// again at once).
TEST_F(AudioPlayerTest, QuickReopenLeavesFivePreparedBlocksOnTheNewDevice) {
  ASSERT_EQ(player.open(kNoWindow), 0);
  const WaveOutHandle old = player.device();
  run(40);
  player.close();
  ASSERT_EQ(player.open(kNoWindow), 0);
  const WaveOutHandle fresh = player.device();
  ASSERT_NE(fresh, old);
  device.clearCalls();
  pump();  // old close notification, new open notification
  EXPECT_TRUE(device.calls().empty());

  // Every block plays on the new device: none was unprepared.
  run(200);
  for (const auto& call : device.calls()) {
    EXPECT_EQ(call.handle, fresh);
    EXPECT_EQ(call.result, kMmNoError) << call.op << ":" << call.user;
  }
  EXPECT_GE(device.calls().size(), 10u);
}

TEST(AudioPlayer, OpenWithoutWindowOrDevice) {
  CRecordingWaveOut device;
  CAudioPlayer player(&device, [] { return int64_t{0}; });
  EXPECT_EQ(player.open(kNoWindow), 0);  // no callback window yet: nothing happens
  player.servicePlayout();
  CAudioDlg dlg(&device);
  EXPECT_EQ(dlg.onMessage(msg::kWaveOutOpen, 12345, 0), kHandled);  // unknown device: ignored
  EXPECT_TRUE(device.calls().empty());

  platform::CNoWaveOut none;
  CAudioDlg silent(&none);
  EXPECT_EQ(silent.player().open(kNoWindow), static_cast<int32_t>(kMmNoDriver));
  const auto payload = randomBytes(800, 8);
  EXPECT_EQ(silent.player().playG726(payload.data(), 800), 0);  // nowhere to play: dropped
  EXPECT_EQ(silent.player().playoutStats().arrivals, 0u);
  silent.player().close();
  EXPECT_EQ(silent.onMessage(msg::kClose, 0, 0), kHandled);
}

// A WAV file takes every block at once: the clock paces it, as fast as a speaker would play.
TEST(AudioPlayer, ADeviceThatTakesBlocksAtOnceIsFedByTheClock) {
  QTemporaryDir dir;
  const std::string path = dir.filePath("audio.wav").toStdString();
  int64_t nowUs = 0;
  {
    platform::CWavFileWaveOut wav(path);
    CAudioDlg dlg(&wav, [&] { return nowUs; });
    ASSERT_EQ(dlg.player().open(kNoWindow), 0);
    dlg.player().servicePlayout();
    EXPECT_EQ(readFile(path).size(), 44u + 4 * 320);  // the lead only
    for (int i = 0; i < 200; ++i) {
      nowUs += 5000;
      dlg.player().servicePlayout();
    }
    EXPECT_EQ(readFile(path).size(), 44u + (4 + 50) * 320);  // one block per 20 ms after it
    dlg.player().close();
  }
}

// The receive thread plays and switches codecs while the UI thread handles notifications and the
// user switches audio off and on; the player's playout thread and the device's own thread run
// beside them.
TEST(AudioPlayerThreads, ReceiveUiAndPlayoutThreadsShareThePlayer) {
  CRecordingWaveOut device;
  CAudioDlg dlg(&device);
  CAudioPlayer& player = dlg.player();
  ASSERT_EQ(player.open(kNoWindow), 0);
  std::atomic<bool> stop{false};
  const auto payload = randomBytes(800, 9);
  std::thread receiver([&] {
    for (int i = 0; i < 400; ++i) {
      const bool adpcm = (i / 50) % 2 == 1;
      player.setMode(adpcm ? AudioCodecMode::Adpcm : AudioCodecMode::G726);
      adpcm ? player.playAdpcm(payload.data(), 600) : player.playG726(payload.data(), 800);
      if (i % 20 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    stop = true;
  });
  std::thread speaker([&] {
    while (!stop) device.playOne(player.device());
  });
  for (int toggles = 1; !stop; ++toggles) {
    processMessagesUntil([] { return false; }, 1);
    if (toggles % 10 == 0) {
      player.close();
      player.open(kNoWindow);
    }
  }
  receiver.join();
  speaker.join();
  pump();
  player.close();
  EXPECT_EQ(player.device(), kNoWaveOut);
  EXPECT_GT(device.played().size(), 0u);
}

}  // namespace
