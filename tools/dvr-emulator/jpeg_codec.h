#pragma once
// Baseline JPEG encoding (4:2:2, as DVRs send it) and decoding with libjpeg-turbo.
#include <cstdint>
#include <string>
#include <vector>

#include "rgb_image.h"

namespace dvremu {

// Encodes image; false (and *out empty) on failure.
bool encodeJpeg(const RgbImage& image, int quality, std::vector<uint8_t>* out);
// Decodes a JPEG file's bytes into RGB; false on failure.
bool decodeJpeg(const uint8_t* data, size_t size, RgbImage* out);

}  // namespace dvremu
