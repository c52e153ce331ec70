#pragma once
// JPEG frames made to fit RTP/JPEG (RFC 2435) before they are payloaded. That payload carries only
// baseline 8-bit Y/Cb/Cr at 4:2:2 or 4:2:0 with the standard Huffman tables, 8-bit quantisation
// tables, no restart interval and at most 2040 pixels a side. A frame that fits is sent as it is
// (a bounded marker scan, no decode); one that differs only in its entropy coding is re-coded
// losslessly from its DCT coefficients; anything else is decoded and encoded again at 4:2:0.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class RtpJpegFit { Untouched, Transcoded, Reencoded, Unusable };

// How a channel's JPEG frames came out, frame by frame (not per client).
struct RtspFitCounts {
  uint64_t untouched = 0;
  uint64_t transcoded = 0;
  uint64_t reencoded = 0;
  uint64_t unusable = 0;
};

struct RtpJpegFitResult {
  RtpJpegFit fit = RtpJpegFit::Unusable;
  std::vector<uint8_t> jpeg;  // the fitted frame; empty when Untouched (send the input as it is)
  std::string
      reason;  // why it didn't fit as it was (for -v logs and counters), empty when Untouched
};

// Reuses its libjpeg objects between frames; one per channel, not thread-safe.
class CRtpJpegFitter {
 public:
  // Largest side the payload can describe (its width and height fields count 8-pixel blocks).
  static constexpr int kMaxSide = 2040;
  // Frames whose declared size would need more memory than this to transcode or decode are
  // refused before any entropy data is read.
  static constexpr size_t kMaxMemory = size_t{512} << 20;

  CRtpJpegFitter();
  ~CRtpJpegFitter();
  CRtpJpegFitter(const CRtpJpegFitter&) = delete;
  CRtpJpegFitter& operator=(const CRtpJpegFitter&) = delete;

  RtpJpegFitResult fit(const uint8_t* data, size_t size);

  // A lower memory cap, e.g. for fuzzing; never above kMaxMemory.
  void setMemoryLimit(size_t bytes);

 private:
  struct Codec;
  std::unique_ptr<Codec> m_codec;
};

// The marker scan alone: does this complete JPEG image fit RFC 2435 as it is? reason when not.
bool fitsRtpJpeg(const uint8_t* data, size_t size, std::string* reason);
