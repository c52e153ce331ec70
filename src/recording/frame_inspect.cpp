#include "recording/frame_inspect.h"

namespace recording {
namespace {

bool isStartCode(const uint8_t* p) {
  return p[0] == 0 && p[1] == 0 && p[2] == 1;
}

// Offset of the first 00 00 01 xx with xx accepted by the predicate, from `from` on.
template <typename Accept>
std::optional<size_t> findStartCode(const uint8_t* data, size_t length, size_t from,
                                    Accept accept) {
  for (size_t i = from; i + 4 <= length; ++i) {
    if (isStartCode(data + i) && accept(data[i + 3])) return i;
  }
  return std::nullopt;
}

constexpr uint8_t kVopStartCode = 0xB6;
bool isVolCode(uint8_t code) {
  return (code & 0xF0) == 0x20;
}

// MSB-first bit reader that reports running out instead of reading past the end.
class BitReader {
 public:
  BitReader(const uint8_t* data, size_t length) : data_(data), bits_(length * 8) {}
  uint32_t read(int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
      if (position_ >= bits_) {
        overrun_ = true;
        return 0;
      }
      const uint32_t bit = (data_[position_ / 8] >> (7 - position_ % 8)) & 1u;
      value = (value << 1) | bit;
      ++position_;
    }
    return value;
  }
  bool overrun() const { return overrun_; }

 private:
  const uint8_t* data_;
  size_t bits_;
  size_t position_ = 0;
  bool overrun_ = false;
};

}  // namespace

std::optional<size_t> findJpegStart(const uint8_t* data, size_t length) {
  for (size_t i = 0; i + 1 < length; ++i) {
    if (data[i] == 0xFF && data[i + 1] == 0xD8) return i;
  }
  return std::nullopt;
}

std::optional<PictureSize> jpegPictureSize(const uint8_t* data, size_t length) {
  if (length < 4 || data[0] != 0xFF || data[1] != 0xD8) return std::nullopt;
  size_t pos = 2;
  while (pos + 1 < length) {
    if (data[pos] != 0xFF) return std::nullopt;
    while (pos < length && data[pos] == 0xFF) ++pos;  // fill bytes
    if (pos >= length) return std::nullopt;
    const uint8_t marker = data[pos++];
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) continue;  // no segment body
    if (marker == 0xD9 || marker == 0xDA) return std::nullopt;  // image data before any frame
    if (pos + 2 > length) return std::nullopt;
    const size_t segment = (size_t{data[pos]} << 8) | data[pos + 1];
    if (segment < 2) return std::nullopt;
    const bool startOfFrame =
        marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (startOfFrame) {
      if (segment < 7 || pos + 7 > length) return std::nullopt;
      const int height = (data[pos + 3] << 8) | data[pos + 4];
      const int width = (data[pos + 5] << 8) | data[pos + 6];
      if (width == 0 || height == 0) return std::nullopt;
      return PictureSize{width, height};
    }
    pos += segment;
  }
  return std::nullopt;
}

std::optional<PictureSize> mpeg4VolPictureSize(const uint8_t* data, size_t length) {
  if (length < 4 || !isStartCode(data) || !isVolCode(data[3])) return std::nullopt;
  BitReader bits(data + 4, length - 4);
  bits.read(1);  // random_accessible_vol
  bits.read(8);  // video_object_type_indication
  uint32_t verid = 1;
  if (bits.read(1) != 0) {  // is_object_layer_identifier
    verid = bits.read(4);
    bits.read(3);  // priority
  }
  if (bits.read(4) == 15) bits.read(16);  // extended pixel aspect ratio
  if (bits.read(1) != 0) {                // vol_control_parameters
    bits.read(2);                         // chroma_format
    bits.read(1);                         // low_delay
    if (bits.read(1) != 0) {              // vbv_parameters: 79 bits with their markers
      bits.read(31);
      bits.read(31);
      bits.read(17);
    }
  }
  const uint32_t shape = bits.read(2);
  if (shape == 3 && verid != 1) bits.read(4);  // shape extension
  bits.read(1);                                // marker
  const uint32_t resolution = bits.read(16);   // vop_time_increment_resolution
  bits.read(1);                                // marker
  if (bits.read(1) != 0) {                     // fixed_vop_rate
    int width = 1;
    while (width < 16 && (1u << width) < resolution) ++width;
    bits.read(width);
  }
  if (shape != 0) return std::nullopt;  // only rectangular layers carry a size
  bits.read(1);
  const int width = static_cast<int>(bits.read(13));
  bits.read(1);
  const int height = static_cast<int>(bits.read(13));
  if (bits.overrun() || width == 0 || height == 0) return std::nullopt;
  return PictureSize{width, height};
}

Mpeg4FrameInfo inspectMpeg4(const uint8_t* data, size_t length) {
  Mpeg4FrameInfo info;
  const auto vop = findStartCode(data, length, 0, [](uint8_t c) { return c == kVopStartCode; });
  if (vop && *vop + 4 < length) {
    info.hasPicture = true;
    info.keyFrame = (data[*vop + 4] >> 6) == 0;  // vop_coding_type 0: intra
  }
  const size_t configEnd = vop ? *vop : length;
  const auto vol = findStartCode(data, configEnd, 0, isVolCode);
  if (vol) {
    info.volOffset = *vol;
    info.volLength = configEnd - *vol;
    info.size = mpeg4VolPictureSize(data + *vol, info.volLength);
  }
  return info;
}

}  // namespace recording
