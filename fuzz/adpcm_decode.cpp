// Feeds arbitrary bytes to the 3-bit decoder, with a capacity taken from the input, and checks the
// result against the sample count rule.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "audio/adpcm_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 65536) return 0;
  const int64_t n = CAdpcmDecoder::sampleCount(static_cast<uint32_t>(size - 2));
  const int64_t capacity = n - (data[0] % 3);  // exact, one short, two short
  std::vector<int16_t> out(static_cast<size_t>(n > 0 ? n : 1));
  CAdpcmDecoder decoder;
  const AdpcmState before = decoder.state();
  const int32_t result =
      decoder.decode(data + 2, static_cast<uint32_t>(size - 2), out.data(), capacity);
  if (capacity < n ? (result != -1 || !(decoder.state() == before)) : result != n) std::abort();
  const AdpcmState& s = decoder.state();
  if (s.yu < 544 || s.yu > 5120 || s.a[1] < -12288 || s.a[1] > 12288) std::abort();
  return 0;
}
