// CJpegDecoder against libjpeg-turbo (to BGR, default DCT, SIMD on) on the same in-memory frames;
// after the timings the ratio of each pair is printed (below 1: ours is faster).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "video/jpeg/jpeg_samples.h"
#include "video/jpeg_decoder.h"

namespace {

struct Frame {
  const char* name;
  int width, height, lumaH, lumaV;
};
constexpr Frame kFrames[] = {{"704x480_422_q75", 704, 480, 2, 1},
                             {"704x480_420_q75", 704, 480, 2, 2},
                             {"352x240_422_q75", 352, 240, 2, 1}};

std::vector<uint8_t> frameJpeg(const Frame& f) {
  jpegsamples::Options o;
  o.width = f.width;
  o.height = f.height;
  o.lumaH = f.lumaH;
  o.lumaV = f.lumaV;
  o.quality = 75;
  return jpegsamples::makeJpeg(o);
}

void ours(benchmark::State& state, Frame f) {
  const auto jpeg = frameJpeg(f);
  std::vector<uint8_t> buffer(jpeg);
  buffer.resize(jpeg.size() + 16, 0);
  // The alignment step rewrites the same bytes every time, so the buffer can be reused.
  for (auto _ : state) {
    CJpegDecoder decoder;
    decoder.setData(buffer.data());
    if (!decoder.decode(uint32_t(jpeg.size()))) state.SkipWithError("no picture");
    benchmark::DoNotOptimize(decoder.picture());
  }
}

void libjpegTurbo(benchmark::State& state, Frame f) {
  const auto jpeg = frameJpeg(f);
  std::vector<uint8_t> bgr;
  for (auto _ : state) {
    jpegsamples::decodeWithLibjpeg(jpeg.data(), jpeg.size(), true, &bgr);
    benchmark::DoNotOptimize(bgr.data());
  }
}

// Console output as usual, plus the time per iteration of every run for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    // The median when repetitions are asked for, else the single run.
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && times_.count(run.run_name.str()) == 0)
        times_[run.run_name.str()] = run.GetAdjustedCPUTime();
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
        times_[run.run_name.str()] = run.GetAdjustedCPUTime();
    }
  }
  void printRatios() const {
    std::printf("\nCJpegDecoder / libjpeg-turbo CPU time ratio (the machine may be shared):\n");
    for (const Frame& f : kFrames) {
      const auto a = times_.find(std::string("CJpegDecoder/") + f.name);
      const auto b = times_.find(std::string("libjpeg-turbo/") + f.name);
      if (a == times_.end() || b == times_.end() || b->second == 0) continue;
      std::printf("  %-18s %.3f\n", f.name, a->second / b->second);
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  for (const Frame& f : kFrames) {
    benchmark::RegisterBenchmark((std::string("CJpegDecoder/") + f.name).c_str(), ours, f)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((std::string("libjpeg-turbo/") + f.name).c_str(), libjpegTurbo, f)
        ->Unit(benchmark::kMicrosecond);
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatios();
  benchmark::Shutdown();
  return 0;
}
