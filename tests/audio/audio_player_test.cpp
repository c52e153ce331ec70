#include "audio/audio_player.h"

#include <gtest/gtest.h>
#include <spandsp.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "audio/audio_dlg.h"
#include "g726_reference.h"
#include "platform/messages.h"
#include "platform/wave_out/no_wave_out.h"
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

bool isFiller(const std::vector<uint8_t>& block, size_t count = SIZE_MAX) {
  return std::all_of(block.begin(), block.begin() + std::min(count, block.size()),
                     [](uint8_t b) { return b == 0; });
}

template <typename Sample>
std::vector<uint8_t> asBytes(const std::vector<Sample>& samples) {
  std::vector<uint8_t> out(samples.size() * sizeof(Sample));
  std::memcpy(out.data(), samples.data(), out.size());
  return out;
}

std::vector<uint8_t> adpcmBytes(CAdpcmDecoder& decoder, const uint8_t* payload, uint32_t length) {
  std::vector<int16_t> samples(static_cast<size_t>(CAdpcmDecoder::sampleCount(length)));
  EXPECT_EQ(decoder.decode(payload, length, samples.data(), static_cast<int64_t>(samples.size())),
            static_cast<int32_t>(samples.size()));
  return asBytes(samples);
}

std::vector<uint8_t> head(const std::vector<uint8_t>& block, size_t n) {
  return {block.begin(), block.begin() + static_cast<long>(n)};
}

class AudioPlayerTest : public ::testing::Test {
 protected:
  void openAndPump() {
    ASSERT_EQ(player.open(kNoWindow), 0);
    pump();  // the open notification
  }
  CRecordingWaveOut device;
  CAudioDlg dlg{&device};
  CAudioPlayer& player = dlg.player();
};

TEST_F(AudioPlayerTest, OpenPreparesFiveG726BlocksAndTheOpenNotificationQueuesThem) {
  for (int i = 0; i < CAudioPlayer::kBlockCount; ++i) EXPECT_TRUE(isFiller(player.blockBytes(i)));

  ASSERT_EQ(player.open(kNoWindow), 0);
  EXPECT_EQ(trace(device), "open prepare:0 prepare:1 prepare:2 prepare:3 prepare:4 write:0");
  for (const auto& call : device.calls()) EXPECT_EQ(call.bufferLength, call.user < 0 ? 0 : 3200u);

  device.clearCalls();
  pump();  // the open notification queues every block; block 0 is still queued
  EXPECT_EQ(trace(device), "write:0!33 write:1 write:2 write:3 write:4");
  EXPECT_EQ(device.played(), std::vector<uint8_t>(5 * 3200, 0));
}

TEST_F(AudioPlayerTest, PayloadsGoRoundTheRing) {
  openAndPump();
  while (device.playOne(player.device())) {
  }
  device.clearCalls();

  // G.726 payloads of 800 bytes are exactly one 3200-byte block each.
  const auto codes =
      reference::g726Encode(32000, G726_PACKING_RIGHT, reference::tone(1000, 9000, 6 * 1600));
  ASSERT_EQ(codes.size(), 6 * 800u);
  const auto expected = asBytes(reference::g726Decode(32000, G726_PACKING_RIGHT, codes));
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(player.ring(), k % 5);
    player.playG726(codes.data() + k * 800, 800);
    EXPECT_EQ(0, std::memcmp(player.blockBytes(k % 5).data(), &expected[k * 3200], 3200)) << k;
    EXPECT_TRUE(device.playOne(player.device()));
  }
  EXPECT_EQ(trace(device), "write:0 write:1 write:2 write:3 write:4 write:0");
  EXPECT_EQ(player.ring(), 1);
  // What the device played after the filler is the decoded signal, block for block.
  const auto played = device.played();
  EXPECT_EQ(std::vector(played.begin() + 5 * 3200, played.end()), expected);
}

TEST_F(AudioPlayerTest, PayloadsFillTheirBlockAndNeverMore) {
  ASSERT_EQ(player.open(kNoWindow), 0);
  const auto big = randomBytes(5000, 4);
  player.playAdpcm(big.data(), 600);   // 1600 samples, then the filler
  player.playAdpcm(big.data(), 5000);  // 768 bytes decode to a full block of 2048 samples
  player.playG726(nullptr, 0);         // zero samples leave the filler
  player.playAdpcm(big.data(), 0);
  EXPECT_EQ(player.ring(), 4);
  CAdpcmDecoder reference;  // the player's decoder keeps its state from block to block
  const auto block0 = player.blockBytes(0);
  EXPECT_EQ(head(block0, 3200), adpcmBytes(reference, big.data(), 600));
  EXPECT_TRUE(isFiller({block0.begin() + 3200, block0.end()}));
  EXPECT_EQ(player.blockBytes(1), adpcmBytes(reference, big.data(), 768));
  for (int i : {2, 3, 4}) EXPECT_TRUE(isFiller(player.blockBytes(i))) << i;

  player.playG726(big.data(), 5000);  // 1024 bytes decode to a full 4096-byte block
  EXPECT_EQ(player.blockBytes(4),
            asBytes(reference::g726Decode(32000, G726_PACKING_RIGHT,
                                          std::vector(big.begin(), big.begin() + 1024))));
  EXPECT_EQ(player.blockBytes(0), block0);  // the neighbour is untouched
}

TEST_F(AudioPlayerTest, CloseReturnsBlocksThenTheCloseNotificationRefills) {
  openAndPump();
  const WaveOutHandle h = player.device();
  const auto payload = randomBytes(800, 5);
  player.playG726(payload.data(), 800);
  player.setMode(AudioCodecMode::Adpcm);
  device.clearCalls();

  player.close();
  EXPECT_EQ(player.mode(), AudioCodecMode::G726);
  EXPECT_EQ(player.ring(), 0);
  EXPECT_EQ(player.device(), kNoWaveOut);
  EXPECT_EQ(trace(device),
            "reset unprepare:0 unprepare:1 unprepare:2 unprepare:3 unprepare:4 close");
  for (const auto& call : device.calls()) EXPECT_EQ(call.handle, h);

  EXPECT_FALSE(isFiller(player.blockBytes(0), 1));
  pump();  // the close notification
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(isFiller(player.blockBytes(i), 3200)) << i;

  // Closing a closed player only resets the mode and the ring.
  device.clearCalls();
  player.setMode(AudioCodecMode::Adpcm);
  player.close();
  EXPECT_TRUE(device.calls().empty());
  EXPECT_EQ(player.mode(), AudioCodecMode::G726);
  EXPECT_EQ(player.ring(), 0);
}

// A close, an open and a mode change, all before the old device's close notification and the
// new one's open notification arrive (audio off and on again at once, with a coding change).
TEST_F(AudioPlayerTest, QuickReopenLeavesFivePreparedBlocksOnTheNewDevice) {
  openAndPump();
  const WaveOutHandle old = player.device();
  const auto g726 = randomBytes(800, 6);
  player.playG726(g726.data(), 800);

  player.close();
  ASSERT_EQ(player.open(kNoWindow), 0);
  player.setMode(AudioCodecMode::Adpcm);
  const WaveOutHandle fresh = player.device();
  ASSERT_NE(fresh, old);
  const auto adpcm = randomBytes(600, 7);
  player.playAdpcm(adpcm.data(), 600);  // goes to block 0 while it is still queued
  player.playAdpcm(adpcm.data(), 600);
  const auto audio = player.blockBytes(1);
  device.clearCalls();

  pump();  // old close notification, new open notification
  for (const auto& call : device.calls()) {
    EXPECT_EQ(call.handle, fresh);
    EXPECT_NE(call.op, "unprepare");
  }
  EXPECT_EQ(player.blockBytes(1), audio);  // not refilled under the new device

  // Every block plays on the new device: none is unprepared.
  while (device.playOne(fresh)) {
  }
  device.clearCalls();
  for (int k = 0; k < 5; ++k) player.playAdpcm(adpcm.data(), 600);
  EXPECT_EQ(trace(device), "write:2 write:3 write:4 write:0 write:1");
}

TEST(AudioPlayer, OpenWithoutWindowOrDevice) {
  CRecordingWaveOut device;
  CAudioPlayer player(&device);
  EXPECT_EQ(player.open(kNoWindow), 0);  // no callback window yet: nothing happens
  CAudioDlg dlg(&device);
  EXPECT_EQ(dlg.onMessage(msg::kWaveOutOpen, 12345, 0), kHandled);  // unknown device: ignored
  EXPECT_TRUE(device.calls().empty());

  platform::CNoWaveOut none;
  CAudioDlg silent(&none);
  EXPECT_EQ(silent.player().open(kNoWindow), static_cast<int32_t>(kMmNoDriver));
  const auto payload = randomBytes(800, 8);
  EXPECT_EQ(silent.player().playG726(payload.data(), 800), 0);  // refused by the device, ignored
  silent.player().close();
  EXPECT_EQ(silent.onMessage(msg::kClose, 0, 0), kHandled);
}

// The receive thread plays and switches codecs while the UI thread handles notifications and the
// user switches audio off and on; the device's own thread finishes blocks.
TEST_F(AudioPlayerTest, ReceiveAndUiThreadsShareThePlayer) {
  ASSERT_EQ(player.open(kNoWindow), 0);
  std::atomic<bool> stop{false};
  const auto payload = randomBytes(800, 9);
  std::thread receiver([&] {
    for (int i = 0; i < 400; ++i) {
      const bool adpcm = (i / 50) % 2 == 1;
      if (adpcm != (player.mode() == AudioCodecMode::Adpcm)) {
        player.close();
        player.open(kNoWindow);
        player.setMode(adpcm ? AudioCodecMode::Adpcm : AudioCodecMode::G726);
      }
      adpcm ? player.playAdpcm(payload.data(), 600) : player.playG726(payload.data(), 800);
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
}

}  // namespace
