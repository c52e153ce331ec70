// The RTP/JPEG fit-up on any bytes: the marker scan and the fitter agree, whatever comes out
// fits, a refusal says why, and nothing reads outside the input. One fitter for every input, as
// a channel uses it, so state left behind by a failed frame shows up in the next.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "bridge/rtp_jpeg_fit.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {

CRtpJpegFitter& fitter() {
  static CRtpJpegFitter instance;
  static const bool limited = [] {
    instance.setMemoryLimit(size_t{16} << 20);  // keeps each run short
    av_log_set_level(AV_LOG_QUIET);             // the 12-bit decoder's complaints
    return true;
  }();
  (void)limited;
  return instance;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so that a read past the end is caught.
  const std::vector<uint8_t> input(data, data + size);
  std::string reason;
  const bool fits = fitsRtpJpeg(input.data(), input.size(), &reason);
  if (!fits && reason.empty()) std::abort();

  const RtpJpegFitResult result = fitter().fit(input.data(), input.size());
  switch (result.fit) {
    case RtpJpegFit::Untouched:
      if (!fits || !result.jpeg.empty() || !result.reason.empty()) std::abort();
      break;
    case RtpJpegFit::Transcoded:
    case RtpJpegFit::Reencoded:
      if (fits || result.reason.empty()) std::abort();
      if (!fitsRtpJpeg(result.jpeg.data(), result.jpeg.size(), nullptr)) std::abort();
      break;
    case RtpJpegFit::Unusable:
      if (fits || !result.jpeg.empty() || result.reason.empty()) std::abort();
      break;
  }
  return 0;
}
