#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>
#include <iterator>
#include <mutex>
#include <vector>

#include "platform/messages.h"
#include "platform/wave_out.h"
#include "platform/wave_out/no_wave_out.h"
#include "platform/wave_out/wav_file_wave_out.h"
#include "recording_wave_out.h"

using namespace platform;

namespace {

class NotificationWindow final : public CMessageWindow {
 public:
  struct Note {
    uint32_t msg;
    uintptr_t handle;
    intptr_t header;
  };
  int onMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
    notes.push_back({msg, wParam, lParam});
    return kHandled;
  }
  void pump() {
    platform::processMessagesUntil([] { return false; }, 20);
  }
  std::vector<Note> notes;
};

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

TEST(WaveOut, QueueFollowsTheDeviceRules) {
  CRecordingWaveOut device;
  NotificationWindow window;
  WaveOutHandle h = kNoWaveOut;
  ASSERT_EQ(device.open(&h, kWaveMapper, WaveFormat{}, window.windowId()), kMmNoError);
  ASSERT_NE(h, kNoWaveOut);

  std::vector<uint8_t> bytes(64, 1);
  WaveHeader header;
  header.data = bytes.data();
  header.bufferLength = 64;
  EXPECT_EQ(device.write(h, &header), kWaveUnprepared);
  ASSERT_EQ(device.prepareHeader(h, &header), kMmNoError);
  EXPECT_EQ(header.flags & kWaveHeaderPrepared, kWaveHeaderPrepared);
  EXPECT_EQ(device.write(h, &header), kMmNoError);
  EXPECT_EQ(device.write(h, &header), kWaveStillPlaying);  // still queued
  EXPECT_EQ(device.unprepareHeader(h, &header), kWaveStillPlaying);
  EXPECT_EQ(device.close(h), kWaveStillPlaying);
  ASSERT_TRUE(device.playOne(h));
  EXPECT_EQ(header.flags & (kWaveHeaderDone | kWaveHeaderInQueue), kWaveHeaderDone);
  EXPECT_EQ(device.write(h, &header), kMmNoError);  // finished blocks are queued again
  EXPECT_EQ(device.reset(h), kMmNoError);
  EXPECT_FALSE(device.playOne(h));
  EXPECT_EQ(device.unprepareHeader(h, &header), kMmNoError);
  EXPECT_EQ(device.close(h), kMmNoError);
  EXPECT_EQ(device.write(h, &header), kMmInvalidHandle);
  EXPECT_EQ(device.reset(h), kMmInvalidHandle);

  WaveFormat bad;
  bad.blockAlign = 4;
  WaveOutHandle other = kNoWaveOut;
  EXPECT_EQ(device.open(&other, kWaveMapper, bad, window.windowId()), kWaveBadFormat);
  EXPECT_EQ(device.open(&other, 3, WaveFormat{}, window.windowId()), kMmBadDeviceId);

  window.pump();
  // open, done (played), done (reset), close, all carrying the handle.
  ASSERT_EQ(window.notes.size(), 4u);
  EXPECT_EQ(window.notes[0].msg, msg::kWaveOutOpen);
  EXPECT_EQ(window.notes[1].msg, msg::kWaveOutDone);
  EXPECT_EQ(window.notes[1].header, reinterpret_cast<intptr_t>(&header));
  EXPECT_EQ(window.notes[2].msg, msg::kWaveOutDone);
  EXPECT_EQ(window.notes[3].msg, msg::kWaveOutClose);
  for (const auto& note : window.notes) EXPECT_EQ(note.handle, h);
}

TEST(WaveOut, HandlesAreNeverReused) {
  CRecordingWaveOut device;
  CRecordingWaveOut another;
  std::vector<WaveOutHandle> seen;
  for (int i = 0; i < 20; ++i) {
    WaveOutHandle h = kNoWaveOut;
    ASSERT_EQ((i % 2 ? device : another).open(&h, 0, WaveFormat{}, kNoWindow), kMmNoError);
    for (WaveOutHandle old : seen) ASSERT_NE(h, old);
    seen.push_back(h);
    ASSERT_EQ((i % 2 ? device : another).close(h), kMmNoError);
  }
}

TEST(WaveOut, CapabilitiesAndVolume) {
  CRecordingWaveOut device;
  WaveOutCaps caps;
  ASSERT_EQ(device.getDevCaps(0, &caps), kMmNoError);
  EXPECT_EQ(caps.support & kWaveCapsVolume, kWaveCapsVolume);
  uint32_t volume = 0;
  ASSERT_EQ(device.getVolume(0, &volume), kMmNoError);
  EXPECT_EQ(volume, 0xFFFFFFFFu);
  EXPECT_EQ(device.setVolume(0, 0x12341234u), kMmNoError);
  device.getVolume(0, &volume);
  EXPECT_EQ(volume, 0x12341234u);
  EXPECT_EQ(device.getVolume(1, &volume), kMmBadDeviceId);

  CNoWaveOut none;
  WaveOutHandle h = 77;
  EXPECT_EQ(none.numDevices(), 0u);
  EXPECT_NE(none.open(&h, kWaveMapper, WaveFormat{}, kNoWindow), kMmNoError);
  EXPECT_EQ(h, kNoWaveOut);
  EXPECT_NE(none.getDevCaps(0, &caps), kMmNoError);
}

TEST(WaveOut, WavFileHoldsEveryPlayedBlockAcrossReopening) {
  QTemporaryDir dir;
  const std::string path = dir.filePath("out.wav").toStdString();
  NotificationWindow window;
  {
    CWavFileWaveOut device(path);
    std::vector<uint8_t> a(3200), b(100);
    for (size_t i = 0; i < a.size(); ++i) a[i] = static_cast<uint8_t>(i);
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(200 - i);
    for (int round = 0; round < 2; ++round) {
      WaveOutHandle h = kNoWaveOut;
      ASSERT_EQ(device.open(&h, kWaveMapper, WaveFormat{}, window.windowId()), kMmNoError);
      WaveHeader ha, hb;
      ha.data = a.data();
      ha.bufferLength = 3200;
      hb.data = b.data();
      hb.bufferLength = 100;
      device.prepareHeader(h, &ha);
      device.prepareHeader(h, &hb);
      EXPECT_EQ(device.write(h, &ha), kMmNoError);
      EXPECT_EQ(device.write(h, &hb), kMmNoError);
      EXPECT_EQ(device.write(h, &ha), kMmNoError);  // played at once, so never still queued
      // The file is complete after every block.
      const auto now = readFile(path);
      ASSERT_EQ(now.size(), 44u + (round + 1) * 6500u);
      EXPECT_EQ(le32(now, 40), (round + 1) * 6500u);
      device.unprepareHeader(h, &ha);
      device.unprepareHeader(h, &hb);
      EXPECT_EQ(device.close(h), kMmNoError);
    }
    WaveFormat stereo;
    stereo.channels = 2;
    stereo.blockAlign = 4;
    stereo.avgBytesPerSec = 32000;
    WaveOutHandle h = kNoWaveOut;
    EXPECT_EQ(device.open(&h, kWaveMapper, stereo, kNoWindow), kWaveBadFormat);
    const auto bytes = readFile(path);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
    EXPECT_EQ(le32(bytes, 4), 36u + 13000u);
    EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(le32(bytes, 24), 8000u);
    EXPECT_EQ(bytes[22], 1);   // mono
    EXPECT_EQ(bytes[34], 16);  // bits
    std::vector<uint8_t> expected;
    for (int round = 0; round < 2; ++round) {
      expected.insert(expected.end(), a.begin(), a.end());
      expected.insert(expected.end(), b.begin(), b.end());
      expected.insert(expected.end(), a.begin(), a.end());
    }
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 44, bytes.end()), expected);
  }
  window.pump();
  int opens = 0, dones = 0, closes = 0;
  for (const auto& note : window.notes) {
    opens += note.msg == msg::kWaveOutOpen;
    dones += note.msg == msg::kWaveOutDone;
    closes += note.msg == msg::kWaveOutClose;
  }
  EXPECT_EQ(opens, 2);
  EXPECT_EQ(dones, 6);
  EXPECT_EQ(closes, 2);
}

TEST(WaveOut, UnwritableWavFileIsNoDevice) {
  CWavFileWaveOut device("/nonexistent-dir/x/out.wav");
  WaveOutHandle h = kNoWaveOut;
  EXPECT_NE(device.open(&h, kWaveMapper, WaveFormat{}, kNoWindow), kMmNoError);
  EXPECT_EQ(h, kNoWaveOut);
}

TEST(WaveOut, BackendNamesAreChecked) {
  EXPECT_FALSE(selectWaveOut("wav:"));
  EXPECT_FALSE(selectWaveOut("speaker"));
  CRecordingWaveOut device;
  setWaveOut(&device);
  EXPECT_EQ(&waveOut(), &device);
  setWaveOut(nullptr);
}

}  // namespace
