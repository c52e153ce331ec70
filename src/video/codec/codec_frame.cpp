#include "video/codec/codec_frame.h"

#include <algorithm>

namespace codec_frame {
namespace {

bool startCodeAt(const uint8_t* data, uint32_t position, uint8_t code) {
  return data[position] == 0 && data[position + 1] == 0 && data[position + 2] == 1 &&
         data[position + 3] == code;
}

}  // namespace

std::optional<uint32_t> findStartCode(const uint8_t* frame, uint32_t length, uint32_t from,
                                      uint32_t to, uint8_t code, bool last) {
  if (frame == nullptr || length < 4) return std::nullopt;
  to = std::min(to, length - 4);
  if (from > to) return std::nullopt;
  if (last) {
    for (uint32_t p = to + 1; p-- > from;) {
      if (startCodeAt(frame, p, code)) return p;
    }
    return std::nullopt;
  }
  for (uint32_t p = from; p <= to; ++p) {
    if (startCodeAt(frame, p, code)) return p;
  }
  return std::nullopt;
}

bool carriesSequenceHeader(const uint8_t* frame, uint32_t length) {
  if (frame == nullptr || length < kFrameHeaderSize + kSequenceHeaderSize) return false;
  return findStartCode(frame, length, kFrameHeaderSize, kFrameHeaderSize + kSequenceHeaderSize - 1,
                       kVideoObjectStart, false)
      .has_value();
}

std::optional<uint32_t> decoderInputStart(const uint8_t* frame, uint32_t length, bool firstFrame) {
  if (firstFrame) {
    if (length < 4) return 0;
    return findStartCode(frame, length, 0, length - 4, kVideoObjectStart, true).value_or(0);
  }
  if (length < 4) return std::nullopt;
  return findStartCode(frame, length, 0, length - 4, kPictureStart, false);
}

}  // namespace codec_frame
