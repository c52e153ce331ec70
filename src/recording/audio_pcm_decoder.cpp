#include "recording/audio_pcm_decoder.h"

namespace recording {

const std::vector<int16_t>& CAudioPcmDecoder::decodeG726(const uint8_t* payload, uint32_t length) {
  samples_.resize(g726::kMaxOutputBytes / 2);
  // Each call starts on a byte boundary, as the player's does.
  g726_.pendingBits = 0;
  g726_.pendingCount = 0;
  const int32_t count = g726::decode(payload, samples_.data(), length, g726_);
  samples_.resize(count > 0 ? static_cast<size_t>(count) : 0);
  return samples_;
}

const std::vector<int16_t>& CAudioPcmDecoder::decodeAdpcm(const uint8_t* payload, uint32_t length) {
  const int64_t count = CAdpcmDecoder::sampleCount(length);
  samples_.resize(static_cast<size_t>(count));
  const int32_t decoded = adpcm_.decode(payload, length, samples_.data(), count);
  samples_.resize(decoded > 0 ? static_cast<size_t>(decoded) : 0);
  return samples_;
}

}  // namespace recording
