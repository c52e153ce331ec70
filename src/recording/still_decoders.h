#pragma once
// Turns the newest frames into one picture on demand: a JPEG image through the viewer's own
// CJpegDecoder, and MPEG-4 Part 2 frames from a key frame on through FFmpeg's decoder. Both give
// an RGB QImage at the size the stream carries; a null image when nothing can be decoded.
//
// Stateless; any thread.
#include <QImage>

#include <cstdint>
#include <vector>

namespace recording {

// jpeg: the image from its FF D8 on, followed by at least 3 writable bytes past length (the
// decoder aligns the end-of-image marker in place).
QImage decodeJpegStill(uint8_t* jpeg, uint32_t length);

// frames: coded MPEG-4 frames (without FrameHeader) back to back, the first an intra picture;
// frameLengths: their lengths in order; config: the VOL header to use when the frames carry none
// (may be empty). The picture of the last frame that decodes.
QImage decodeMpeg4Still(const std::vector<uint8_t>& frames,
                        const std::vector<uint32_t>& frameLengths,
                        const std::vector<uint8_t>& config);

}  // namespace recording
