// The audio block path: arbitrary payloads of either coding, of any length, played one after
// another through the player into a device that checks nothing is read outside the blocks.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include <QCoreApplication>

#include "audio/audio_dlg.h"
#include "platform/wave_out/wave_out_device.h"

namespace {

class CDiscardingOutput final : public platform::IWaveOutput {
 public:
  bool play(uint64_t, const uint8_t* data, uint32_t length) override {
    // The sanitizers check the whole range a copy reads, without a loop per byte.
    scratch_.resize(length);
    if (length != 0) std::memcpy(scratch_.data(), data, length);
    return true;
  }
  void discard() override {}
  void setVolume(uint32_t) override {}

 private:
  std::vector<uint8_t> scratch_;
};

class CDiscardingWaveOut final : public platform::CWaveOutDevice {
 public:
  ~CDiscardingWaveOut() override { closeAll(); }

 protected:
  std::unique_ptr<platform::IWaveOutput> createOutput(platform::WaveOutHandle,
                                                      const platform::WaveFormat&,
                                                      uint32_t*) override {
    return std::make_unique<CDiscardingOutput>();
  }
  std::u16string deviceName() const override { return u"fuzz"; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static int argc = 1;
  static char name[] = "fuzz_audio_block";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  static CDiscardingWaveOut device;

  CAudioDlg dlg(&device);
  CAudioPlayer& player = dlg.player();
  player.open(kNoWindow);
  // Records: a kind byte (bit 0: coding, bit 1: switch by close and open), a 16-bit length.
  while (size >= 3) {
    const uint8_t kind = data[0];
    uint32_t length = static_cast<uint32_t>(data[1] | (data[2] << 8));
    data += 3;
    size -= 3;
    if (length > size) length = static_cast<uint32_t>(size);
    const auto wanted = (kind & 1) ? AudioCodecMode::Adpcm : AudioCodecMode::G726;
    if ((kind & 2) && player.mode() != wanted) {
      player.close();
      player.open(kNoWindow);
      player.setMode(wanted);
    }
    if (wanted == AudioCodecMode::Adpcm)
      player.playAdpcm(data, length);
    else
      player.playG726(data, length);
    data += length;
    size -= length;
  }
  QCoreApplication::processEvents();
  player.close();
  QCoreApplication::processEvents();
  return 0;
}
