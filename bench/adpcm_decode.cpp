// The 3-bit ADPCM decoder against spandsp's G.726 decoder at 24 kbit/s on the same code streams:
// samples per second of each, and their ratio (target: CAdpcmDecoder at least 1.5 times faster).
#include <benchmark/benchmark.h>
#include <spandsp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>
#include <vector>

#include "audio/adpcm_decoder.h"

namespace {

constexpr size_t kBlockBytes = 600;  // one 200 ms block of 1600 samples
constexpr size_t kBlocks = 200;

struct Streams {
  std::vector<uint8_t> packed;  // kBlocks blocks of packed 3-bit codes
  std::vector<uint8_t> codes;   // the same codes, one per byte
};

const Streams& streams() {
  static const Streams s = [] {
    Streams out;
    std::mt19937 rng(1);
    // Codes from encoding a noisy tone, so the decoder sees realistic adaptation.
    std::vector<int16_t> pcm(kBlocks * 1600);
    std::normal_distribution<double> noise(0, 600);
    for (size_t i = 0; i < pcm.size(); ++i)
      pcm[i] = static_cast<int16_t>(6000 * std::sin(i * 0.37) + noise(rng));
    g726_state_t* enc = g726_init(nullptr, 24000, G726_ENCODING_LINEAR, G726_PACKING_RIGHT);
    out.packed.resize(pcm.size());
    out.packed.resize(static_cast<size_t>(
        g726_encode(enc, out.packed.data(), pcm.data(), static_cast<int>(pcm.size()))));
    g726_free(enc);
    out.codes.resize(CAdpcmDecoder::sampleCount(static_cast<uint32_t>(out.packed.size())));
    CAdpcmDecoder::unpackCodes(out.packed.data(), static_cast<uint32_t>(out.packed.size()),
                               out.codes.data());
    return out;
  }();
  return s;
}

void BM_CAdpcmDecoder(benchmark::State& state) {
  const Streams& s = streams();
  CAdpcmDecoder decoder;
  std::vector<int16_t> out(1600);
  for (auto _ : state) {
    for (size_t b = 0; b < kBlocks; ++b)
      decoder.decode(s.packed.data() + b * kBlockBytes, kBlockBytes, out.data(), 1600);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["samples/s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * kBlocks * 1600), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CAdpcmDecoder);

// spandsp unpacking the same bytes itself (G726_PACKING_RIGHT).
void BM_SpandspPacked(benchmark::State& state) {
  const Streams& s = streams();
  g726_state_t* dec = g726_init(nullptr, 24000, G726_ENCODING_LINEAR, G726_PACKING_RIGHT);
  std::vector<int16_t> out(1600 + 8);
  for (auto _ : state) {
    for (size_t b = 0; b < kBlocks; ++b)
      g726_decode(dec, out.data(), s.packed.data() + b * kBlockBytes, kBlockBytes);
    benchmark::DoNotOptimize(out.data());
  }
  g726_free(dec);
  state.counters["samples/s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * kBlocks * 1600), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SpandspPacked);

// spandsp on codes already unpacked one per byte (its fastest path).
void BM_SpandspUnpacked(benchmark::State& state) {
  const Streams& s = streams();
  g726_state_t* dec = g726_init(nullptr, 24000, G726_ENCODING_LINEAR, G726_PACKING_NONE);
  std::vector<int16_t> out(1600);
  for (auto _ : state) {
    for (size_t b = 0; b < kBlocks; ++b)
      g726_decode(dec, out.data(), s.codes.data() + b * 1600, 1600);
    benchmark::DoNotOptimize(out.data());
  }
  g726_free(dec);
  state.counters["samples/s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * kBlocks * 1600), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SpandspUnpacked);

// One direct comparison in the same run: the two decoders take turns, each timed on the thread's
// CPU clock, and the best round of each counts, so load from other processes disturbs it little.
double threadSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

template <typename F>
double timeOnce(F&& decodeAll) {
  const double start = threadSeconds();
  decodeAll();
  return threadSeconds() - start;
}

void printRatio() {
  const Streams& s = streams();
  CAdpcmDecoder decoder;
  std::vector<int16_t> out(1600 + 8);
  g726_state_t* dec = g726_init(nullptr, 24000, G726_ENCODING_LINEAR, G726_PACKING_RIGHT);
  auto ours = [&] {
    for (size_t b = 0; b < kBlocks; ++b)
      decoder.decode(s.packed.data() + b * kBlockBytes, kBlockBytes, out.data(), 1600);
    benchmark::DoNotOptimize(out.data());
  };
  auto theirs = [&] {
    for (size_t b = 0; b < kBlocks; ++b)
      g726_decode(dec, out.data(), s.packed.data() + b * kBlockBytes, kBlockBytes);
    benchmark::DoNotOptimize(out.data());
  };
  double bestOurs = 1e9, bestTheirs = 1e9;
  for (int round = 0; round < 30; ++round) {
    bestOurs = std::min(bestOurs, timeOnce(ours));
    bestTheirs = std::min(bestTheirs, timeOnce(theirs));
  }
  g726_free(dec);
  const double samples = kBlocks * 1600.0;
  std::printf(
      "CAdpcmDecoder: %.1f Msamples/s, spandsp G.726 24 kbit/s: %.1f Msamples/s, ratio %.2f\n",
      samples / bestOurs / 1e6, samples / bestTheirs / 1e6, bestTheirs / bestOurs);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  printRatio();
  return 0;
}
