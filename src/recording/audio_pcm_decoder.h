#pragma once
// Decodes the DVR's audio blocks to 16-bit PCM for a recording, with decoder states of its own
// (the player keeps its own), so recording never disturbs what is heard.
//
// Used by one thread (the recording's writer thread).
#include <cstdint>
#include <vector>

#include "audio/adpcm_decoder.h"
#include "audio/g726_library.h"

namespace recording {

class CAudioPcmDecoder {
 public:
  // The samples of one payload (4-bit G.726 codes, or packed 3-bit codes); valid until the next
  // call. A G.726 payload beyond g726::kMaxInputBytes is decoded up to that limit.
  const std::vector<int16_t>& decodeG726(const uint8_t* payload, uint32_t length);
  const std::vector<int16_t>& decodeAdpcm(const uint8_t* payload, uint32_t length);

 private:
  G726LibraryState g726_;
  CAdpcmDecoder adpcm_;
  std::vector<int16_t> samples_;
};

}  // namespace recording
