// End to end: signals encoded with spandsp's G.726 encoders, played block by block through the
// audio window and its jitter buffer into the WAV-file device, come out of the file close to the
// source.
#include <gtest/gtest.h>
#include <spandsp.h>

#include <QTemporaryDir>

#include <algorithm>
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

// Plays the coded signal in 200 ms blocks as the DVR sends them, one every 200 ms of a simulated
// clock that also paces the playout; returns the samples of the WAV file.
std::vector<int16_t> playThroughWav(const std::vector<uint8_t>& coded, bool adpcm) {
  QTemporaryDir dir;
  const std::string path = dir.filePath("audio.wav").toStdString();
  int64_t nowUs = 0;
  {
    platform::CWavFileWaveOut device(path);
    CAudioDlg dlg(&device, [&] { return nowUs; });
    CAudioPlayer& player = dlg.player();
    EXPECT_EQ(player.open(kNoWindow), 0);
    pump();
    if (adpcm) player.setMode(AudioCodecMode::Adpcm);  // the audio connection's codec switch
    const uint32_t block = adpcm ? 600 : 800;
    for (size_t at = 0; at < coded.size() + 5 * block; at += block) {
      if (at + block <= coded.size())
        adpcm ? player.playAdpcm(&coded[at], block) : player.playG726(&coded[at], block);
      for (int step = 0; step < 40; ++step, nowUs += 5000) player.servicePlayout();
    }
    player.close();
  }
  const auto bytes = readFile(path);
  EXPECT_GE(bytes.size(), 44u);
  if (bytes.size() < 44) return {};
  std::vector<int16_t> out((bytes.size() - 44) / 2);
  std::memcpy(out.data(), &bytes[44], out.size() * 2);
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
    const auto all = playThroughWav(coded, c.adpcm);
    // The codec's own output is what must arrive, exactly, after the start delay's silence.
    const auto decoded = reference::g726Decode(rate, G726_PACKING_RIGHT, coded);
    const auto start = std::find_if(all.begin(), all.end(), [](int16_t s) { return s != 0; });
    ASSERT_GE(all.end() - start, long(decoded.size()));
    const size_t silence = size_t(start - all.begin());
    EXPECT_NEAR(double(silence) / 8, 120, 30);  // ms
    const size_t offset =
        size_t(std::find_if(decoded.begin(), decoded.end(), [](int16_t s) { return s != 0; }) -
               decoded.begin());
    ASSERT_GE(silence, offset);
    const std::vector<int16_t> played(all.begin() + long(silence - offset),
                                      all.begin() + long(silence - offset + decoded.size()));
    EXPECT_EQ(played, decoded);
    const double snr = reference::snrDb(source, played, 400);
    std::printf("[ SNR      ] %s: %.1f dB\n", c.name, snr);
    RecordProperty(c.name, std::to_string(snr));
    EXPECT_GT(snr, c.minSnr);
  }
}

}  // namespace
