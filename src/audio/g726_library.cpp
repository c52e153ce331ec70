#include "audio/g726_library.h"

#include <spandsp.h>

G726LibraryState::G726LibraryState()
    : codec(g726_init(nullptr, 32000, G726_ENCODING_LINEAR, G726_PACKING_NONE)) {}

G726LibraryState::~G726LibraryState() {
  if (codec != nullptr) g726_free(codec);
}

namespace g726 {

int32_t decode(const uint8_t* input, int16_t* out, uint32_t length, G726LibraryState& state) {
  if (state.codec == nullptr || input == nullptr || out == nullptr) return 0;
  if (length > kMaxInputBytes) length = kMaxInputBytes;

  // Unpack to one code per byte, low nibble first, then let spandsp decode the codes.
  uint8_t codes[kMaxInputBytes * 2];
  int count = 0;
  uint32_t bits = state.pendingBits;
  uint32_t held = state.pendingCount > 8 ? 0 : state.pendingCount;
  for (uint32_t i = 0; i < length; ++i) {
    bits |= static_cast<uint32_t>(input[i]) << held;
    held += 8;
    while (held >= 4 && count < static_cast<int>(sizeof codes)) {
      codes[count++] = static_cast<uint8_t>(bits & 15);
      bits >>= 4;
      held -= 4;
    }
  }
  state.pendingBits = static_cast<uint16_t>(bits);
  state.pendingCount = static_cast<uint8_t>(held);
  return g726_decode(state.codec, out, codes, count);
}

}  // namespace g726
