#include "audio/audio_player.h"

#include <gtest/gtest.h>
#include <spandsp.h>

#include <atomic>
#include <cstring>
#include <random>
#include <thread>

#include "audio/audio_dlg.h"
#include "g726_reference.h"
#include "platform/messages.h"
#include "platform/wave_out/no_wave_out.h"
#include "recording_wave_out.h"

using namespace platform;

namespace {

void pump() {
  processMessagesUntil([] { return false; }, 20);
}

std::vector<WaveOutCall> callsNamed(CRecordingWaveOut& device, const std::string& op) {
  std::vector<WaveOutCall> out;
  for (const auto& call : device.calls())
    if (call.op == op) out.push_back(call);
  return out;
}

std::vector<uint8_t> randomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(n);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

class AudioPlayerTest : public ::testing::Test {
 protected:
  CRecordingWaveOut device;
  CAudioDlg dlg{&device};
  CAudioPlayer& player = dlg.player();
};

TEST_F(AudioPlayerTest, OpenPreparesFiveG726BlocksAndTheOpenNotificationQueuesThem) {
  for (int i = 0; i < CAudioPlayer::kBlockCount; ++i)
    for (uint8_t b : player.blockBytes(i)) ASSERT_EQ(b, 0x7F);

  ASSERT_EQ(player.open(kNoWindow), 0);
  const auto calls = device.calls();
  ASSERT_EQ(calls.size(), 7u);
  EXPECT_EQ(calls[0].op, "open");
  const WaveFormat format = device.lastFormat();
  EXPECT_EQ(format.formatTag, 1);
  EXPECT_EQ(format.channels, 1);
  EXPECT_EQ(format.samplesPerSec, 8000u);
  EXPECT_EQ(format.avgBytesPerSec, 16000u);
  EXPECT_EQ(format.blockAlign, 2);
  EXPECT_EQ(format.bitsPerSample, 16);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(calls[1 + i].op, "prepare");
    EXPECT_EQ(calls[1 + i].user, i);
    EXPECT_EQ(calls[1 + i].bufferLength, 3200u);
    EXPECT_EQ(calls[1 + i].result, kMmNoError);
  }
  EXPECT_EQ(calls[6].op, "write");
  EXPECT_EQ(calls[6].user, 0);

  device.clearCalls();
  pump();  // the open notification
  const auto writes = callsNamed(device, "write");
  ASSERT_EQ(writes.size(), 5u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(writes[i].user, i);
  EXPECT_EQ(writes[0].result, kWaveStillPlaying);  // block 0 is still queued
  for (int i = 1; i < 5; ++i) EXPECT_EQ(writes[i].result, kMmNoError);
  // Six blocks of filler reached the device.
  EXPECT_EQ(device.played(), std::vector<uint8_t>(5 * 3200, 0x7F));
}

TEST_F(AudioPlayerTest, PayloadsGoRoundTheRing) {
  ASSERT_EQ(player.open(kNoWindow), 0);
  pump();
  while (device.playOne(player.device())) {
  }
  device.clearCalls();

  // G.726 payloads of 800 bytes are exactly one 3200-byte block each.
  const auto codes =
      reference::g726Encode(32000, G726_PACKING_RIGHT, reference::tone(1000, 9000, 6 * 1600));
  ASSERT_EQ(codes.size(), 6 * 800u);
  const auto expected = reference::g726Decode(32000, G726_PACKING_RIGHT, codes);
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(player.ring(), k % 5);
    player.playG726(codes.data() + k * 800, 800);
    const auto block = player.blockBytes(k % 5);
    EXPECT_EQ(0, std::memcmp(block.data(), expected.data() + k * 1600, 3200)) << k;
    EXPECT_TRUE(device.playOne(player.device()));
  }
  const auto writes = callsNamed(device, "write");
  ASSERT_EQ(writes.size(), 6u);
  const int users[6] = {0, 1, 2, 3, 4, 0};
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(writes[k].user, users[k]);
    EXPECT_EQ(writes[k].result, kMmNoError);
  }
  EXPECT_EQ(player.ring(), 1);
  // What the device played after the filler is the decoded signal, block for block.
  const auto played = device.played();
  ASSERT_EQ(played.size(), (5 + 6) * 3200u);
  EXPECT_EQ(0, std::memcmp(played.data() + 5 * 3200, expected.data(), 6 * 3200));
}

TEST_F(AudioPlayerTest, AdpcmPayloadOf600BytesFillsOneBlock) {
  ASSERT_EQ(player.open(kNoWindow), 0);
  const auto payload = randomBytes(600, 3);
  player.playAdpcm(payload.data(), 600);
  CAdpcmDecoder reference;
  std::vector<int16_t> samples(1600);
  ASSERT_EQ(reference.decode(payload.data(), 600, samples.data(), 1600), 1600);
  const auto block = player.blockBytes(0);
  EXPECT_EQ(0, std::memcmp(block.data(), samples.data(), 3200));
  for (size_t i = 3200; i < block.size(); ++i) ASSERT_EQ(block[i], 0x7F);
  // The decoder keeps its state from block to block.
  player.playAdpcm(payload.data(), 600);
  ASSERT_EQ(reference.decode(payload.data(), 600, samples.data(), 1600), 1600);
  EXPECT_EQ(0, std::memcmp(player.blockBytes(1).data(), samples.data(), 3200));
}

TEST_F(AudioPlayerTest, OversizedPayloadsStopAtTheBlock) {
  ASSERT_EQ(player.open(kNoWindow), 0);
  const auto big = randomBytes(5000, 4);
  player.playG726(big.data(), 5000);   // 1024 bytes decode to a full 4096-byte block
  player.playAdpcm(big.data(), 5000);  // 768 bytes decode to 2048 samples
  player.playG726(nullptr, 0);
  player.playAdpcm(big.data(), 0);
  EXPECT_EQ(player.ring(), 4);
  for (uint8_t b : player.blockBytes(4)) ASSERT_EQ(b, 0x7F);  // the neighbour is untouched

  CAdpcmDecoder reference;
  std::vector<int16_t> samples(2048);
  ASSERT_EQ(reference.decode(big.data(), 768, samples.data(), 2048), 2048);
  EXPECT_EQ(0, std::memcmp(player.blockBytes(1).data(), samples.data(), 4096));
  for (uint8_t b : player.blockBytes(2)) ASSERT_EQ(b, 0x7F);  // zero samples leave the filler
}

TEST_F(AudioPlayerTest, CloseReturnsBlocksThenTheCloseNotificationRefills) {
  ASSERT_EQ(player.open(kNoWindow), 0);
  pump();
  const WaveOutHandle h = player.device();
  const auto payload = randomBytes(800, 5);
  player.playG726(payload.data(), 800);
  player.setMode(AudioCodecMode::Adpcm);
  device.clearCalls();

  player.close();
  EXPECT_EQ(player.mode(), AudioCodecMode::G726);
  EXPECT_EQ(player.ring(), 0);
  EXPECT_EQ(player.device(), kNoWaveOut);
  const auto calls = device.calls();
  ASSERT_EQ(calls.size(), 7u);
  EXPECT_EQ(calls[0].op, "reset");
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(calls[1 + i].op, "unprepare");
    EXPECT_EQ(calls[1 + i].result, kMmNoError);
  }
  EXPECT_EQ(calls[6].op, "close");
  EXPECT_EQ(calls[6].handle, h);

  EXPECT_NE(player.blockBytes(0)[0], 0x7F);
  pump();  // the close notification
  for (int i = 0; i < 5; ++i) {
    const auto block = player.blockBytes(i);
    for (size_t k = 0; k < 3200; ++k) ASSERT_EQ(block[k], 0x7F);
  }

  // Closing a closed player only resets the mode and the ring.
  device.clearCalls();
  player.setMode(AudioCodecMode::Adpcm);
  player.close();
  EXPECT_TRUE(device.calls().empty());
  EXPECT_EQ(player.mode(), AudioCodecMode::G726);
  EXPECT_EQ(player.ring(), 0);
}

// The audio connection's codec switch: close, open, set the mode, all before the old device's
// close notification and the new one's open notification arrive.
TEST_F(AudioPlayerTest, CodecSwitchLeavesFivePreparedBlocksOnTheNewDevice) {
  ASSERT_EQ(player.open(kNoWindow), 0);
  pump();
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
  const auto writes = callsNamed(device, "write");
  ASSERT_EQ(writes.size(), 5u);
  for (const auto& write : writes) EXPECT_EQ(write.result, kMmNoError);
}

TEST(AudioPlayer, OpenWithoutWindowOrDevice) {
  CRecordingWaveOut device;
  CAudioPlayer player(&device);
  EXPECT_EQ(player.open(kNoWindow), 0);  // no callback window yet: nothing happens
  EXPECT_TRUE(device.calls().empty());

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
TEST(AudioPlayer, ReceiveAndUiThreadsShareThePlayer) {
  CRecordingWaveOut device;
  CAudioDlg dlg(&device);
  CAudioPlayer& player = dlg.player();
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
      if (adpcm)
        player.playAdpcm(payload.data(), 600);
      else
        player.playG726(payload.data(), 800);
    }
    stop = true;
  });
  std::thread speaker([&] {
    while (!stop) device.playOne(player.device());
  });
  int toggles = 0;
  while (!stop) {
    processMessagesUntil([] { return false; }, 1);
    if (++toggles % 10 == 0) {
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
