// Feeds arbitrary bytes to CJpegDecoder::decode, with exactly the 3 writable bytes the alignment
// step may use after them, and checks the result against the plain reference decoder: same
// outcome, same size, same picture, same bytes written. Then the same bytes through
// decodeScaled, at a scale and pixel format picked by the input's length: a picture exactly when
// decode gave one, within the pixel limit, and the same bytes written.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "../tests/video/jpeg/reference_jpeg_decoder.cpp"
#include "video/jpeg_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  // Small pictures keep every input quick; the size check itself is part of what is fuzzed.
  constexpr uint64_t kPixelLimit = 256 * 256;
  std::vector<uint8_t> fastBuffer(data, data + size);
  fastBuffer.resize(size + 3);
  std::vector<uint8_t> referenceBuffer = fastBuffer;

  CJpegDecoder decoder;
  decoder.setPixelLimit(kPixelLimit);
  decoder.setData(fastBuffer.data());
  const bool decoded = decoder.decode(uint32_t(size));

  ReferenceJpegDecoder reference;
  reference.setPixelLimit(kPixelLimit);
  const bool referenceDecoded = reference.decode(referenceBuffer.data(), uint32_t(size));

  if (decoded != referenceDecoded || decoder.width() != reference.width() ||
      decoder.height() != reference.height() || fastBuffer != referenceBuffer)
    __builtin_trap();
  if ((decoder.picture() != nullptr) != reference.hasPicture()) __builtin_trap();
  if (decoder.picture() != nullptr &&
      std::memcmp(decoder.picture(), reference.picture().data(), reference.picture().size()) != 0)
    __builtin_trap();

  std::vector<uint8_t> scaledBuffer(data, data + size);
  scaledBuffer.resize(size + 3);
  const int denominator = 1 << (size % 4);
  const auto format =
      (size / 4) % 2 ? CJpegDecoder::PixelFormat::Bgrx32 : CJpegDecoder::PixelFormat::Rgb24;
  CJpegDecoder scaled;
  scaled.setPixelLimit(kPixelLimit);
  scaled.setData(scaledBuffer.data());
  const bool scaledDecoded = scaled.decodeScaled(uint32_t(size), denominator, format);
  if (scaledDecoded != decoded || scaledBuffer != fastBuffer) __builtin_trap();
  if (scaledDecoded) {
    // The size of the frame the scan had (a later frame header may change width()): within
    // the pixel limit once scaled back up.
    const uint64_t w = scaled.scaledWidth(), h = scaled.scaledHeight();
    if (w == 0 || h == 0 || w * h * uint64_t(denominator * denominator) > kPixelLimit ||
        scaled.scaledPicture() == nullptr)
      __builtin_trap();
    // Every byte of the picture is readable (the sanitizers watch).
    const size_t bytes = size_t(w) * h * size_t(jpeg::bytesPerPixel(format));
    unsigned sum = 0;
    for (size_t i = 0; i < bytes; ++i) sum += scaled.scaledPicture()[i];
    if (sum == ~0u) __builtin_trap();
  }
  return 0;
}
