#pragma once
// Area-average downscaling of 3-byte pixels, for pictures too large for RTP/JPEG: each output
// pixel is the mean of the source area it covers, so fine detail averages out instead of
// aliasing.
#include <cstdint>
#include <vector>

namespace rtpjpeg {

// src holds srcWidth x srcHeight pixels of 3 bytes, rows packed; the result dstWidth x
// dstHeight, with 0 < dst <= src in each direction.
std::vector<uint8_t> downscaleArea(const uint8_t* src, int srcWidth, int srcHeight, int dstWidth,
                                   int dstHeight);

}  // namespace rtpjpeg
