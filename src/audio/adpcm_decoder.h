#pragma once
// The 3-bit (24 kbit/s) G.726 ADPCM decoder used for the DVR's packed 3-bit audio blocks.
//
// Codes arrive packed least significant bit first, eight codes in every three bytes. The decoder
// state lives as long as the object and carries over from block to block; it is never reset.
#include <cstdint>

// Decoder state in the integer units of the ITU-T G.726 bit-exact decoder.
struct AdpcmState {
  int32_t yl = 34816;                        // locked (steady-state) step-size multiplier
  int16_t yu = 544;                          // unlocked step-size multiplier, 544..5120
  int16_t dms = 0;                           // short-term average of F(I)
  int16_t dml = 0;                           // long-term average of F(I)
  int16_t ap = 0;                            // speed-control weight between yl and yu
  int16_t a[2] = {0, 0};                     // pole predictor coefficients
  int16_t b[6] = {};                         // zero predictor coefficients
  int16_t pk[2] = {0, 0};                    // signs of the last two partial signals (1 = negative)
  int16_t dq[6] = {32, 32, 32, 32, 32, 32};  // last six quantised differences, floating format
  int16_t sr[2] = {32, 32};                  // last two reconstructed samples, floating format
  uint8_t td = 0;                            // tone detect flag

  bool operator==(const AdpcmState&) const = default;
};

class CAdpcmDecoder {
 public:
  CAdpcmDecoder() = default;
  virtual ~CAdpcmDecoder() = default;

  // Number of samples that `length` packed bytes hold: (8 * length) / 3.
  static int64_t sampleCount(uint32_t length) { return (8 * static_cast<int64_t>(length)) / 3; }

  // Decodes the packed codes of data[0..length) into out. Returns the sample count n; with out
  // null only n is returned. Returns -1 and decodes nothing when capacity < n (or when n would
  // not fit the result type).
  int32_t decode(const uint8_t* data, uint32_t length, int16_t* out, int64_t capacity);

  // Decodes one 3-bit code (the upper bits are ignored) and advances the state.
  static int16_t decodeSample(uint8_t code, AdpcmState& state);

  // Unpacks the n = sampleCount(length) codes of data into codes[0..n).
  static void unpackCodes(const uint8_t* data, uint32_t length, uint8_t* codes);

  const AdpcmState& state() const { return state_; }

 private:
  AdpcmState state_;  // owned by the thread that decodes (the audio receive thread)
};
