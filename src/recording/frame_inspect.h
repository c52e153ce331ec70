#pragma once
// What the tap needs to know about a live frame without decoding it: where the JPEG image starts
// and how large it is, and for MPEG-4 Part 2 frames whether a key picture starts them, where the
// stream's configuration (the VOL header) lies and the picture size it announces.
//
// Pure functions over the frame's bytes; they never read outside [data, data + length).
#include <cstddef>
#include <cstdint>
#include <optional>

namespace recording {

// Bytes of the FrameHeader that begins every live frame.
inline constexpr uint32_t kFrameHeaderSize = 16;

struct PictureSize {
  int width = 0;
  int height = 0;
  bool operator==(const PictureSize&) const = default;
};

// Offset of the first FF D8 (start of image) in data, or nullopt.
std::optional<size_t> findJpegStart(const uint8_t* data, size_t length);

// The size in the first start-of-frame segment of a JPEG image that starts at data (FF D8), as
// the image says it (not rounded to whole blocks). Nullopt when the headers end or break first.
std::optional<PictureSize> jpegPictureSize(const uint8_t* data, size_t length);

struct Mpeg4FrameInfo {
  bool hasPicture = false;  // a picture (VOP) start code is present
  bool keyFrame = false;    // the first picture is intra coded
  // The configuration: from the VOL start code (00 00 01 2x) to the first picture start code.
  size_t volOffset = 0;
  size_t volLength = 0;             // 0: the frame carries no VOL header
  std::optional<PictureSize> size;  // from the VOL header, when it has a rectangular shape
};

// Inspects MPEG-4 Part 2 coded data (a codec frame without its FrameHeader).
Mpeg4FrameInfo inspectMpeg4(const uint8_t* data, size_t length);

// The picture size a VOL header announces (data starts at its 00 00 01 2x start code); nullopt
// for a non-rectangular shape or a header that ends too soon.
std::optional<PictureSize> mpeg4VolPictureSize(const uint8_t* data, size_t length);

}  // namespace recording
