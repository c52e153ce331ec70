// End to end: signals encoded with spandsp's G.726 encoders, played block by block through the
// audio window into the WAV-file device, come out of the file close to the source.
#include <gtest/gtest.h>
#include <spandsp.h>

#include <QTemporaryDir>

#include <cstring>

#include "audio/audio_dlg.h"
#include "g726_reference.h"
#include "platform/wave_out/wav_file_wave_out.h"
#include "test_helpers.h"

namespace {

struct Case {
  const char* name;
  bool adpcm;  // 3-bit ADPCM at 24 kbit/s, else G.726 at 32 kbit/s
  bool speech;
  double minSnr;
};

// Plays the coded signal in 200 ms blocks as the DVR sends them; returns the samples of the WAV
// file after the filler that opening the device plays (block 0 at open, then all five at the open
// notification).
std::vector<int16_t> playThroughWav(const std::vector<uint8_t>& coded, bool adpcm) {
  QTemporaryDir dir;
  const std::string path = dir.filePath("audio.wav").toStdString();
  {
    platform::CWavFileWaveOut device(path);
    CAudioDlg dlg(&device);
    CAudioPlayer& player = dlg.player();
    EXPECT_EQ(player.open(kNoWindow), 0);
    pump();
    if (adpcm) player.setMode(AudioCodecMode::Adpcm);  // the audio connection's codec switch
    const uint32_t block = adpcm ? 600 : 800;
    for (size_t at = 0; at + block <= coded.size(); at += block) {
      adpcm ? player.playAdpcm(&coded[at], block) : player.playG726(&coded[at], block);
      pump();
    }
    player.close();
  }
  const auto bytes = readFile(path);
  const size_t filler = 44 + 6 * 3200;
  EXPECT_GE(bytes.size(), filler);
  if (bytes.size() < filler) return {};
  EXPECT_TRUE(
      std::all_of(bytes.begin() + 44, bytes.begin() + filler, [](uint8_t b) { return b == 0; }));
  std::vector<int16_t> out((bytes.size() - filler) / 2);
  std::memcpy(out.data(), &bytes[filler], out.size() * 2);
  return out;
}

TEST(WavPlayback, SignalsSurviveTheWholePath) {
  const Case cases[] = {
      {"1 kHz tone, G.726 32 kbit/s", false, false, 30.0},
      {"speech-like, G.726 32 kbit/s", false, true, 12.0},
      {"1 kHz tone, 3-bit ADPCM 24 kbit/s", true, false, 22.0},
      {"speech-like, 3-bit ADPCM 24 kbit/s", true, true, 10.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto source =
        c.speech ? reference::speechLike(8000 * 4, 17) : reference::tone(1000, 10000, 8000 * 4);
    const int rate = c.adpcm ? 24000 : 32000;
    const auto coded = reference::g726Encode(rate, G726_PACKING_RIGHT, source);
    const auto played = playThroughWav(coded, c.adpcm);
    ASSERT_EQ(played.size(), source.size());
    // The codec's own output is what must arrive, exactly.
    EXPECT_EQ(played, reference::g726Decode(rate, G726_PACKING_RIGHT, coded));
    const double snr = reference::snrDb(source, played, 400);
    std::printf("[ SNR      ] %s: %.1f dB\n", c.name, snr);
    RecordProperty(c.name, std::to_string(snr));
    EXPECT_GT(snr, c.minSnr);
  }
}

}  // namespace
