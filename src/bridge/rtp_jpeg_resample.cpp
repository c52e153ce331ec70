#include "bridge/rtp_jpeg_resample.h"

#include <algorithm>
#include <cmath>

namespace rtpjpeg {
namespace {

struct Tap {
  int first = 0;               // first source index
  std::vector<float> weights;  // for first, first + 1, ...; they sum to 1
};

// For each of dst output positions, the source positions it covers and by how much.
std::vector<Tap> areaTaps(int src, int dst) {
  std::vector<Tap> taps(static_cast<size_t>(dst));
  const double step = static_cast<double>(src) / dst;
  for (int i = 0; i < dst; ++i) {
    const double begin = i * step, end = std::min<double>(src, (i + 1) * step);
    Tap& tap = taps[static_cast<size_t>(i)];
    tap.first = static_cast<int>(begin);
    for (int s = tap.first; s < src && s < end; ++s) {
      const double cover = std::min<double>(s + 1, end) - std::max<double>(s, begin);
      tap.weights.push_back(static_cast<float>(cover / step));
    }
  }
  return taps;
}

}  // namespace

std::vector<uint8_t> downscaleArea(const uint8_t* src, int srcWidth, int srcHeight, int dstWidth,
                                   int dstHeight) {
  const std::vector<Tap> across = areaTaps(srcWidth, dstWidth);
  const std::vector<Tap> down = areaTaps(srcHeight, dstHeight);
  // Rows first, into floats; then columns.
  std::vector<float> narrow(static_cast<size_t>(dstWidth) * srcHeight * 3);
  for (int y = 0; y < srcHeight; ++y) {
    const uint8_t* row = src + static_cast<size_t>(y) * srcWidth * 3;
    float* out = narrow.data() + static_cast<size_t>(y) * dstWidth * 3;
    for (int x = 0; x < dstWidth; ++x) {
      const Tap& tap = across[static_cast<size_t>(x)];
      float sum[3] = {0, 0, 0};
      for (size_t k = 0; k < tap.weights.size(); ++k) {
        const uint8_t* p = row + (static_cast<size_t>(tap.first) + k) * 3;
        for (int c = 0; c < 3; ++c) sum[c] += tap.weights[k] * p[c];
      }
      std::copy(sum, sum + 3, out + static_cast<size_t>(x) * 3);
    }
  }
  std::vector<uint8_t> result(static_cast<size_t>(dstWidth) * dstHeight * 3);
  const size_t rowFloats = static_cast<size_t>(dstWidth) * 3;
  std::vector<float> sum(rowFloats);
  for (int y = 0; y < dstHeight; ++y) {
    const Tap& tap = down[static_cast<size_t>(y)];
    std::fill(sum.begin(), sum.end(), 0.0f);
    for (size_t k = 0; k < tap.weights.size(); ++k) {
      const float* row = narrow.data() + (static_cast<size_t>(tap.first) + k) * rowFloats;
      for (size_t i = 0; i < rowFloats; ++i) sum[i] += tap.weights[k] * row[i];
    }
    uint8_t* out = result.data() + static_cast<size_t>(y) * rowFloats;
    for (size_t i = 0; i < rowFloats; ++i)
      out[i] = static_cast<uint8_t>(std::clamp(std::lround(sum[i]), 0L, 255L));
  }
  return result;
}

}  // namespace rtpjpeg
