// Feeds arbitrary bytes to CJpegDecoder::decode, with exactly the 3 writable bytes the alignment
// step may use after them, and checks the result against the plain reference decoder: same
// outcome, same size, same picture, same bytes written.
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
  return 0;
}
