#pragma once
// The sound of one channel in blocks of 200 ms (1600 samples at 8 kHz), encoded with spandsp's
// G.726: 4-bit codes at 32 kbit/s (800 bytes a block) or 3-bit codes at 24 kbit/s packed least
// significant bit first (600 bytes a block).
#include <cstdint>
#include <vector>

#include "emulator_config.h"

struct g726_state_s;

namespace dvremu {

inline constexpr int kAudioSampleRate = 8000;
inline constexpr int kAudioBlockSamples = 1600;  // 200 ms
inline constexpr int kAudioBlockMs = 200;

// A synthetic signal: a tone sequence or a speech-like voice, different per channel.
class AudioSynth {
 public:
  AudioSynth(AudioSourceKind kind, int channel);
  void fill(int16_t* samples, int count);

 private:
  int16_t toneSample();
  int16_t speechSample();

  AudioSourceKind kind_;
  int channel_;
  uint64_t t_ = 0;  // samples produced
  double phase_ = 0, glottal_ = 0;
  double formantState_[3][2] = {};
  uint32_t noise_ = 22222;
};

class G726BlockEncoder {
 public:
  G726BlockEncoder(AudioCodec codec, G726Packing packing);
  ~G726BlockEncoder();
  G726BlockEncoder(const G726BlockEncoder&) = delete;
  G726BlockEncoder& operator=(const G726BlockEncoder&) = delete;

  AudioCodec codec() const { return codec_; }
  // Encodes the samples; appends the codes to *out.
  void encode(const int16_t* samples, int count, std::vector<uint8_t>* out);

 private:
  AudioCodec codec_;
  g726_state_s* state_ = nullptr;
};

int spandspPacking(G726Packing packing);

}  // namespace dvremu
