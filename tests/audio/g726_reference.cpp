#include "g726_reference.h"

#include <spandsp.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <numbers>
#include <random>

namespace reference {

namespace {
using Codec = std::unique_ptr<g726_state_t, decltype(&g726_free)>;
Codec codec(int bitRate, int packing) {
  return Codec(g726_init(nullptr, bitRate, G726_ENCODING_LINEAR, packing), &g726_free);
}
}  // namespace

std::vector<uint8_t> g726Encode(int bitRate, int packing, const std::vector<int16_t>& samples) {
  std::vector<uint8_t> out(samples.size() + 8);
  out.resize(static_cast<size_t>(g726_encode(codec(bitRate, packing).get(), out.data(),
                                             samples.data(), static_cast<int>(samples.size()))));
  return out;
}

std::vector<int16_t> g726Decode(int bitRate, int packing, const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> out(bytes.size() * 8 + 8);
  out.resize(static_cast<size_t>(g726_decode(codec(bitRate, packing).get(), out.data(),
                                             bytes.data(), static_cast<int>(bytes.size()))));
  return out;
}

std::vector<uint8_t> pack3(const std::vector<uint8_t>& codes) {
  std::vector<uint8_t> out;
  uint32_t bits = 0;
  int held = 0;
  for (uint8_t code : codes) {
    bits |= static_cast<uint32_t>(code & 7) << held;
    for (held += 3; held >= 8; held -= 8, bits >>= 8) out.push_back(static_cast<uint8_t>(bits));
  }
  if (held > 0) out.push_back(static_cast<uint8_t>(bits));
  return out;
}

std::vector<int16_t> tone(double hz, double amplitude, size_t count) {
  std::vector<int16_t> out(count);
  for (size_t i = 0; i < count; ++i)
    out[i] = static_cast<int16_t>(std::lround(
        amplitude * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / 8000)));
  return out;
}

// Voiced segments (a pitch pulse train through two formant resonators) alternating with noisy
// and silent gaps, with a slowly moving pitch and level: close enough to speech for an ADPCM codec.
std::vector<int16_t> speechLike(size_t count, uint32_t seed) {
  constexpr double kPi = std::numbers::pi;
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 1.0);
  std::vector<int16_t> out(count);
  double y1a = 0, y2a = 0, y1b = 0, y2b = 0, phase = 0;
  auto resonate = [](double x, double& y1, double& y2, double freq, double bw) {
    const double r = std::exp(-kPi * bw / 8000);
    const double y = x + 2 * r * std::cos(2 * kPi * freq / 8000) * y1 - r * r * y2;
    y2 = y1;
    return y1 = y;
  };
  for (size_t i = 0; i < count; ++i) {
    const double t = static_cast<double>(i) / 8000;
    const int segment = static_cast<int>(t / 0.25) % 4;  // voiced, voiced, fricative, pause
    phase += (110 + 30 * std::sin(2 * kPi * 0.7 * t)) / 8000;
    double excitation = segment < 2 && phase >= 1 ? 1 : 0;
    if (phase >= 1) phase -= 1;
    if (segment == 2) excitation = 0.08 * noise(rng);
    const double f1 = 500 + 200 * std::sin(2 * kPi * 1.3 * t);
    const double f2 = 1500 + 500 * std::sin(2 * kPi * 0.9 * t);
    const double v =
        resonate(excitation, y1a, y2a, f1, 80) + 0.5 * resonate(excitation, y1b, y2b, f2, 120);
    const double level = segment == 3 ? 0.0 : 900 * (1.2 + std::sin(2 * kPi * 0.4 * t));
    out[i] = static_cast<int16_t>(std::clamp(v * level, -32000.0, 32000.0));
  }
  return out;
}

double snrDb(const std::vector<int16_t>& source, const std::vector<int16_t>& decoded, size_t skip) {
  double signal = 0, error = 0;
  for (size_t i = skip; i < source.size() && i < decoded.size(); ++i) {
    const double s = source[i], d = decoded[i];
    signal += s * s;
    error += (s - d) * (s - d);
  }
  return error == 0 ? std::numeric_limits<double>::infinity() : 10 * std::log10(signal / error);
}

}  // namespace reference
