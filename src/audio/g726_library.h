#pragma once
// The 4-bit G.726 (32 kbit/s) decode call used by the player, over spandsp's bit-exact decoder.
//
// Each input byte holds two 4-bit codes, least significant nibble first (the bit order of
// spandsp's G726_PACKING_RIGHT), so every byte yields two 16-bit samples.
#include <cstdint>
#include <memory>

struct g726_state_s;

// The caller-owned state block of the decode call. The first two fields are the code bits left
// over from the previous call; the caller clears both before every call, so each payload starts
// on a byte boundary. The codec state behind them carries over from call to call.
struct G726LibraryState {
  G726LibraryState();
  ~G726LibraryState();
  G726LibraryState(const G726LibraryState&) = delete;
  G726LibraryState& operator=(const G726LibraryState&) = delete;

  uint16_t pendingBits = 0;
  uint8_t pendingCount = 0;
  g726_state_s* codec;  // owned; spandsp's 32 kbit/s decoder with linear output
};

namespace g726 {

// At most this many bytes of samples come out of one call (two samples of two bytes per input
// byte, so at most kMaxInputBytes input bytes are decoded).
inline constexpr uint32_t kMaxOutputBytes = 4096;
inline constexpr uint32_t kMaxInputBytes = kMaxOutputBytes / 4;

// Decodes min(length, kMaxInputBytes) bytes of input into out, which holds kMaxOutputBytes.
// Returns the number of samples written.
int32_t decode(const uint8_t* input, int16_t* out, uint32_t length, G726LibraryState& state);

}  // namespace g726
