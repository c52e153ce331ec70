#include "audio_block_source.h"

#include <algorithm>
#include <cmath>
#include <numbers>

extern "C" {
#include <spandsp.h>
}

namespace dvremu {
namespace {
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// A two-pole resonator for one formant.
double resonate(double input, double frequency, double bandwidth, double state[2]) {
  const double r = std::exp(-std::numbers::pi * bandwidth / kAudioSampleRate);
  const double a1 = 2 * r * std::cos(kTwoPi * frequency / kAudioSampleRate);
  const double a2 = -r * r;
  const double y = (1 - r) * input + a1 * state[0] + a2 * state[1];
  state[1] = state[0];
  state[0] = y;
  return y;
}
}  // namespace

AudioSynth::AudioSynth(AudioSourceKind kind, int channel) : kind_(kind), channel_(channel) {}

void AudioSynth::fill(int16_t* samples, int count) {
  for (int i = 0; i < count; ++i) {
    samples[i] = kind_ == AudioSourceKind::Tones ? toneSample() : speechSample();
    ++t_;
  }
}

int16_t AudioSynth::toneSample() {
  // A short melody, a note every 400 ms with a soft attack and release, transposed per channel.
  static const int kSemitones[8] = {0, 4, 7, 12, 7, 4, 0, -5};
  const uint64_t noteLength = kAudioSampleRate * 2 / 5;
  const uint64_t note = t_ / noteLength;
  const double within = static_cast<double>(t_ % noteLength) / noteLength;
  const double frequency = 440.0 * std::pow(2.0, (kSemitones[note % 8] + channel_ * 2 - 5) / 12.0);
  phase_ = std::fmod(phase_ + kTwoPi * frequency / kAudioSampleRate, kTwoPi);
  const double envelope = std::min(1.0, within * 20.0) * std::min(1.0, (1.0 - within) * 8.0);
  return static_cast<int16_t>(9000.0 * envelope * std::sin(phase_));
}

int16_t AudioSynth::speechSample() {
  // Voiced syllables: a glottal pulse train with a wandering pitch through three vowel formants,
  // about four syllables a second, with short pauses between phrases.
  static const double kVowels[5][3] = {
      {730, 1090, 2440}, {270, 2290, 3010}, {530, 1840, 2480}, {570, 840, 2410}, {300, 870, 2240}};
  const double seconds = static_cast<double>(t_) / kAudioSampleRate;
  const double syllable = seconds * 4.0 + channel_ * 0.37;
  const int vowel = static_cast<int>(std::fmod(std::floor(syllable) * 3 + channel_, 5.0));
  const double within = syllable - std::floor(syllable);
  const double phrase = std::fmod(seconds + channel_ * 0.3, 3.0);
  const double loud = phrase > 2.4 ? 0.0 : std::sin(std::numbers::pi * within);
  const double pitch = (channel_ % 2 ? 190.0 : 120.0) *
                       (1.0 + 0.15 * std::sin(kTwoPi * seconds * 0.7)) * (1.0 - 0.1 * phrase / 3.0);
  glottal_ += pitch / kAudioSampleRate;
  double excitation = 0;
  if (glottal_ >= 1.0) {
    glottal_ -= 1.0;
    excitation = 1.0;
  }
  noise_ = noise_ * 1664525u + 1013904223u;
  excitation += ((noise_ >> 16) / 65536.0 - 0.5) * 0.05;  // a little breath
  double y = 0;
  for (int f = 0; f < 3; ++f) {
    y += resonate(excitation, kVowels[vowel][f], 80.0 + 40.0 * f, formantState_[f]) / (1.0 + f);
  }
  return static_cast<int16_t>(std::clamp(y * 60000.0 * loud, -30000.0, 30000.0));
}

int spandspPacking(G726Packing packing) {
  return packing == G726Packing::Left ? G726_PACKING_LEFT : G726_PACKING_RIGHT;
}

G726BlockEncoder::G726BlockEncoder(AudioCodec codec, G726Packing packing) : codec_(codec) {
  // The 3-bit codes are always packed least significant bit first, as the viewer unpacks them.
  const int rate = codec == AudioCodec::G726 ? 32000 : 24000;
  const int bits = codec == AudioCodec::G726 ? spandspPacking(packing) : G726_PACKING_RIGHT;
  state_ = g726_init(nullptr, rate, G726_ENCODING_LINEAR, bits);
}

G726BlockEncoder::~G726BlockEncoder() {
  if (state_ != nullptr) g726_free(state_);
}

void G726BlockEncoder::encode(const int16_t* samples, int count, std::vector<uint8_t>* out) {
  if (state_ == nullptr || count <= 0) return;
  const size_t start = out->size();
  out->resize(start + static_cast<size_t>(count));  // at most one byte per sample
  const int written = g726_encode(state_, out->data() + start, samples, count);
  out->resize(start + static_cast<size_t>(std::max(0, written)));
}

}  // namespace dvremu
