// Any bytes as a live frame for a tile: the first byte picks the codec and the tile's size, the
// rest is the frame. Decoding and placing the picture in its letterboxed tile may not read or
// write outside the frame, its padding, the decoders' pictures or the tile.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "monitor/tile_codec_decoder.h"
#include "monitor/tile_frame_queue.h"
#include "monitor/tile_geometry.h"
#include "monitor/tile_jpeg_decoder.h"
#include "monitor/tile_scaler.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {

// Small tiles and pictures keep a run short under the sanitizers.
constexpr uint64_t kLargestDecodedArea = 256 * 256;

struct Harness {
  Harness() {
    av_log_set_level(AV_LOG_QUIET);
    jpeg.setPixelLimit(kLargestDecodedArea);
  }
  CTileJpegDecoder jpeg;
  CTileCodecDecoder codec;  // kept across inputs, as a channel's decoder is across frames
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Harness harness;
  if (size < 2 || size > 1 << 20) return 0;
  const bool jpeg = (data[0] & 1) != 0;
  const QSize tile(1 + (data[0] >> 1 & 7) * 37, 1 + (data[0] >> 4) * 23);
  std::vector<uint8_t> frame(data + 1, data + size);
  const uint32_t length = uint32_t(frame.size());
  frame.resize(frame.size() + CTileFrameQueue::kPadding, 0);

  QSize source;
  if (jpeg) {
    if (!harness.jpeg.decode(frame.data(), length, tile)) return 0;
    source = harness.jpeg.sourceSize();
  } else {
    if (harness.codec.decode(frame.data(), length) != CTileCodecDecoder::Result::Picture) return 0;
    source = harness.codec.pictureSize();
  }
  const QRect target = letterboxRect(source, tile);
  QImage image = letterboxedTile(tile, target);
  if (jpeg) {
    harness.jpeg.placeInto(image, target);
  } else {
    harness.codec.scaleInto(image, target);
  }
  return 0;
}
