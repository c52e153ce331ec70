#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <set>
#include <vector>

#include "platform/messages.h"
#include "platform/wave_out.h"
#include "platform/wave_out/no_wave_out.h"
#include "platform/wave_out/wav_file_wave_out.h"
#include "recording_wave_out.h"
#include "test_helpers.h"

using namespace platform;

namespace {

// Records the notifications as message number, handle and header.
class NotificationWindow final : public CMessageWindow {
 public:
  int onMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
    msgs.push_back(msg);
    handles.push_back(wParam);
    headers.push_back(lParam);
    return kHandled;
  }
  std::vector<uint32_t> msgs;
  std::vector<uintptr_t> handles;
  std::vector<intptr_t> headers;
};

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
  WaveHeader header{bytes.data(), 64};
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

  WaveOutHandle other = kNoWaveOut;
  const WaveFormat badAlign{1, 1, 8000, 16000, 4, 16};
  EXPECT_EQ(device.open(&other, kWaveMapper, badAlign, window.windowId()), kWaveBadFormat);
  EXPECT_EQ(device.open(&other, 3, WaveFormat{}, window.windowId()), kMmBadDeviceId);

  pump();
  // open, done (played), done (reset), close, all carrying the handle.
  EXPECT_EQ(window.msgs, (std::vector<uint32_t>{msg::kWaveOutOpen, msg::kWaveOutDone,
                                                msg::kWaveOutDone, msg::kWaveOutClose}));
  EXPECT_EQ(window.handles, std::vector<uintptr_t>(4, h));
  ASSERT_EQ(window.headers.size(), 4u);
  EXPECT_EQ(window.headers[1], reinterpret_cast<intptr_t>(&header));
}

TEST(WaveOut, HandlesAreNeverReused) {
  CRecordingWaveOut devices[2];
  std::set<WaveOutHandle> seen;
  for (int i = 0; i < 20; ++i) {
    WaveOutHandle h = kNoWaveOut;
    ASSERT_EQ(devices[i % 2].open(&h, 0, WaveFormat{}, kNoWindow), kMmNoError);
    ASSERT_TRUE(seen.insert(h).second) << i;
    ASSERT_EQ(devices[i % 2].close(h), kMmNoError);
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
}

// Neither a machine without output nor a WAV file that can't be written opens a device.
TEST(WaveOut, NoDeviceRefusesToOpen) {
  CNoWaveOut none;
  CWavFileWaveOut unwritable("/nonexistent-dir/x/out.wav");
  EXPECT_EQ(none.numDevices(), 0u);
  WaveOutCaps caps;
  EXPECT_NE(none.getDevCaps(0, &caps), kMmNoError);
  for (IWaveOut* device : {static_cast<IWaveOut*>(&none), static_cast<IWaveOut*>(&unwritable)}) {
    WaveOutHandle h = 77;
    EXPECT_NE(device->open(&h, kWaveMapper, WaveFormat{}, kNoWindow), kMmNoError);
    EXPECT_EQ(h, kNoWaveOut);
  }
}

TEST(WaveOut, WavFileHoldsEveryPlayedBlockAcrossReopening) {
  QTemporaryDir dir;
  const std::string path = dir.filePath("out.wav").toStdString();
  NotificationWindow window;
  {
    CWavFileWaveOut device(path);
    std::vector<uint8_t> a(3200), b(100), expected;
    for (size_t i = 0; i < a.size(); ++i) a[i] = static_cast<uint8_t>(i);
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(200 - i);
    for (uint32_t round = 1; round <= 2; ++round) {
      WaveOutHandle h = kNoWaveOut;
      ASSERT_EQ(device.open(&h, kWaveMapper, WaveFormat{}, window.windowId()), kMmNoError);
      WaveHeader ha{a.data(), 3200}, hb{b.data(), 100};
      device.prepareHeader(h, &ha);
      device.prepareHeader(h, &hb);
      // Played at once, so never still queued.
      for (WaveHeader* header : {&ha, &hb, &ha}) {
        EXPECT_EQ(device.write(h, header), kMmNoError);
        expected.insert(expected.end(), header->data, header->data + header->bufferLength);
      }
      // The file is complete after every block.
      const auto now = readFile(path);
      ASSERT_EQ(now.size(), 44u + round * 6500u);
      EXPECT_EQ(le32(now, 40), round * 6500u);
      device.unprepareHeader(h, &ha);
      device.unprepareHeader(h, &hb);
      EXPECT_EQ(device.close(h), kMmNoError);
    }
    WaveOutHandle h = kNoWaveOut;
    const WaveFormat stereo{1, 2, 8000, 32000, 4, 16};  // one file holds one format
    EXPECT_EQ(device.open(&h, kWaveMapper, stereo, kNoWindow), kWaveBadFormat);
    const auto bytes = readFile(path);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
    EXPECT_EQ(le32(bytes, 4), 36u + 13000u);
    EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(le32(bytes, 24), 8000u);
    EXPECT_EQ(bytes[22], 1);   // mono
    EXPECT_EQ(bytes[34], 16);  // bits
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 44, bytes.end()), expected);
  }
  pump();
  const auto count = [&](uint32_t msg) { return std::ranges::count(window.msgs, msg); };
  EXPECT_EQ(count(msg::kWaveOutOpen), 2);
  EXPECT_EQ(count(msg::kWaveOutDone), 6);
  EXPECT_EQ(count(msg::kWaveOutClose), 2);
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
