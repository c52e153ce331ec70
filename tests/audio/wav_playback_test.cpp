// End to end: signals encoded with spandsp's G.726 encoders, played block by block through the
// audio window into the WAV-file device, come out of the file close to the source.
#include <gtest/gtest.h>
#include <spandsp.h>

#include <QTemporaryDir>

#include <cstring>
#include <fstream>
#include <iterator>

#include "audio/audio_dlg.h"
#include "g726_reference.h"
#include "platform/wave_out/wav_file_wave_out.h"

namespace {

std::vector<int16_t> wavSamples(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
  std::vector<int16_t> out((bytes.size() - 44) / 2);
  std::memcpy(out.data(), bytes.data() + 44, out.size() * 2);
  return out;
}

void pump() {
  platform::processMessagesUntil([] { return false; }, 20);
}

enum class Coding { G726_32, Adpcm24 };

// Plays the source in 200 ms blocks as the DVR sends them; returns the samples after the filler
// that the opening of the device plays (block 0 at open, then all five at the open notification).
std::vector<int16_t> playThroughWav(const std::vector<int16_t>& source, Coding coding) {
  QTemporaryDir dir;
  const std::string path = dir.filePath("audio.wav").toStdString();
  {
    platform::CWavFileWaveOut device(path);
    CAudioDlg dlg(&device);
    CAudioPlayer& player = dlg.player();
    EXPECT_EQ(player.open(kNoWindow), 0);
    pump();
    if (coding == Coding::Adpcm24) {
      // The audio connection's switch to 3-bit blocks.
      player.close();
      EXPECT_EQ(player.open(kNoWindow), 0);
      player.setMode(AudioCodecMode::Adpcm);
      pump();
    }
    const int rate = coding == Coding::G726_32 ? 32000 : 24000;
    const auto coded = reference::g726Encode(rate, G726_PACKING_RIGHT, source);
    const size_t block = coding == Coding::G726_32 ? 800 : 600;
    for (size_t at = 0; at + block <= coded.size(); at += block) {
      if (coding == Coding::G726_32)
        player.playG726(coded.data() + at, static_cast<uint32_t>(block));
      else
        player.playAdpcm(coded.data() + at, static_cast<uint32_t>(block));
      pump();
    }
    player.close();
  }
  auto samples = wavSamples(path);
  const size_t fillerBlocks = coding == Coding::G726_32 ? 6 : 12;
  EXPECT_GE(samples.size(), fillerBlocks * 1600);
  for (size_t i = 0; i < fillerBlocks * 1600 && i < samples.size(); ++i)
    EXPECT_EQ(samples[i], 0x7F7F) << i;
  samples.erase(samples.begin(),
                samples.begin() + static_cast<long>(std::min(samples.size(), fillerBlocks * 1600)));
  return samples;
}

struct Case {
  const char* name;
  Coding coding;
  bool speech;
  double minSnr;
};

TEST(WavPlayback, SignalsSurviveTheWholePath) {
  const Case cases[] = {
      {"1 kHz tone, G.726 32 kbit/s", Coding::G726_32, false, 30.0},
      {"speech-like, G.726 32 kbit/s", Coding::G726_32, true, 12.0},
      {"1 kHz tone, 3-bit ADPCM 24 kbit/s", Coding::Adpcm24, false, 22.0},
      {"speech-like, 3-bit ADPCM 24 kbit/s", Coding::Adpcm24, true, 10.0},
  };
  for (const Case& c : cases) {
    const auto source =
        c.speech ? reference::speechLike(8000 * 4, 17) : reference::tone(1000, 10000, 8000 * 4);
    const auto played = playThroughWav(source, c.coding);
    ASSERT_EQ(played.size(), source.size()) << c.name;
    // The codec's own output is what must arrive, exactly.
    const int rate = c.coding == Coding::G726_32 ? 32000 : 24000;
    EXPECT_EQ(played,
              reference::g726Decode(rate, G726_PACKING_RIGHT,
                                    reference::g726Encode(rate, G726_PACKING_RIGHT, source)))
        << c.name;
    const double snr = reference::snrDb(source, played, 400);
    std::printf("[ SNR      ] %s: %.1f dB\n", c.name, snr);
    RecordProperty(c.name, std::to_string(snr));
    EXPECT_GT(snr, c.minSnr) << c.name;
  }
}

}  // namespace
