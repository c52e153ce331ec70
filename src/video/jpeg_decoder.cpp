#include "video/jpeg_decoder.h"

#include <algorithm>
#include <cstring>

#include <vector>

#include "video/jpeg/huffman_table.h"
#include "video/jpeg/scan_decoder.h"

namespace {

// The marker segments are looked for this many times; ordinary files need a handful.
constexpr int kMarkerPasses = 51;

struct FrameComponent {
  uint8_t id, h, v, quant;
};
struct ScanSelector {
  uint8_t selector, dc, ac;
};

}  // namespace

struct CJpegDecoder::Scaled {
  int size = 8;  // samples a block side: 8 / denominator
  PixelFormat format = PixelFormat::Bgrx32;
  std::vector<uint8_t> planes[3];
  std::vector<uint8_t> full;  // the BGR picture, for samplings the planes can't take
  std::vector<uint8_t> picture;
  uint16_t width = 0, height = 0;
  bool produced = false;
};

struct CJpegDecoder::State {
  const uint8_t* data = nullptr;
  uint32_t end = 0;       // readable length after the alignment step
  uint32_t position = 0;  // marker segment being looked at
  uint32_t entropy = 0;   // where the entropy-coded data reader stands
  uint16_t restartInterval = 0;
  // Each table after one unused byte, which the scan decoder's AC loop may address.
  uint8_t quant[16][65] = {};
  // Slots 0..3 DC tables, 16..19 AC tables; allocated when a DHT segment defines them.
  std::unique_ptr<jpeg::HuffmanTable> huffman[20];
  bool frameRead = false;
  uint16_t width = 0, height = 0;
  uint16_t imageWidth = 0, imageHeight = 0;  // as the frame header gives them
  uint8_t componentCount = 0;
  FrameComponent components[3] = {};
  std::unique_ptr<uint8_t[]> picture;
  uint16_t pictureWidth = 0, pictureHeight = 0;
  uint64_t maxPixels = CJpegDecoder::kMaxPixels;
  Scaled* scaled = nullptr;  // set: scans go to the true-colour picture, not to picture

  uint8_t at(uint32_t offset) const { return offset < end ? data[offset] : 0; }
  uint32_t be16(uint32_t offset) const { return uint32_t(at(offset)) << 8 | at(offset + 1); }
  bool markerAt(uint32_t offset, uint8_t second) const {
    return offset + 1 < end && data[offset] == 0xFF && data[offset + 1] == second;
  }

  void readHuffmanTables();
  void readQuantisationTables();
  void readFrameHeader();
  void readScanAndDecode();
  void decodeScaledScan(const jpeg::Scan& scan);
  void readSegments(uint8_t* data, uint32_t length);
};

CJpegDecoder::CJpegDecoder() : state_(std::make_unique<State>()) {}
CJpegDecoder::~CJpegDecoder() = default;

// With a picture, its own size: a frame header read after the scan may state another one.
uint16_t CJpegDecoder::width() const {
  return state_->picture ? state_->pictureWidth : state_->width;
}
uint16_t CJpegDecoder::height() const {
  return state_->picture ? state_->pictureHeight : state_->height;
}
const uint8_t* CJpegDecoder::picture() const {
  return state_->picture.get();
}

void CJpegDecoder::setPixelLimit(uint64_t maxPixels) {
  state_->maxPixels = std::min(maxPixels, kMaxPixels);
}

uint16_t CJpegDecoder::scaledWidth() const {
  return scaled_ && scaled_->produced ? scaled_->width : 0;
}
uint16_t CJpegDecoder::scaledHeight() const {
  return scaled_ && scaled_->produced ? scaled_->height : 0;
}
const uint8_t* CJpegDecoder::scaledPicture() const {
  return scaled_ && scaled_->produced ? scaled_->picture.data() : nullptr;
}

bool CJpegDecoder::decode(uint32_t length) {
  if (data_ == nullptr) return false;
  state_->readSegments(data_, length);
  return state_->picture != nullptr;
}

bool CJpegDecoder::decodeScaled(uint32_t length, int denominator, PixelFormat format) {
  if (!scaled_) scaled_ = std::make_unique<Scaled>();
  scaled_->produced = false;
  if (data_ == nullptr ||
      !(denominator == 1 || denominator == 2 || denominator == 4 || denominator == 8))
    return false;
  const uint64_t limit = state_->maxPixels;
  state_ = std::make_unique<State>();
  state_->maxPixels = limit;
  scaled_->size = 8 / denominator;
  scaled_->format = format;
  state_->scaled = scaled_.get();
  state_->readSegments(data_, length);
  state_->scaled = nullptr;
  return scaled_->produced;
}

void CJpegDecoder::State::readSegments(uint8_t* bytes, uint32_t length) {
  State& s = *this;
  // The last two bytes are the end-of-image marker: move it to the end of the length rounded
  // up to 4 bytes, zeroing what lies between.
  const uint64_t rounded = (uint64_t(length) + 3) & ~uint64_t(3);
  s.end = length;
  if (rounded > length && rounded <= 0xFFFFFFFFu) {
    s.end = uint32_t(rounded);
    const uint32_t from = length >= 2 ? length - 2 : 0;
    std::memset(bytes + from, 0, s.end - 2 - from);
    bytes[s.end - 2] = 0xFF;
    bytes[s.end - 1] = 0xD9;
  }
  s.data = bytes;

  uint32_t start = 0;
  while (start + 1 < s.end && !(bytes[start] == 0xFF && bytes[start + 1] == 0xD8)) ++start;
  if (start + 1 >= s.end) return;
  s.position = start + 2;
  s.entropy = s.position;

  // Each pass reads, in this order, at most one segment of each kind that stands at the current
  // position: other segments, restart interval, Huffman tables, quantisation tables, frame
  // header, scan. A marker none of them knows stops all progress.
  for (int pass = 0; pass < kMarkerPasses; ++pass) {
    if (s.position + 3 < s.end && bytes[s.position] == 0xFF && bytes[s.position + 1] >= 0xE0)
      s.position += 2 + s.be16(s.position + 2);
    if (s.markerAt(s.position, 0xDD) && s.position + 5 < s.end) {
      s.restartInterval = uint16_t(s.be16(s.position + 4));
      s.position += 6;
    }
    if (s.markerAt(s.position, 0xC4) && s.position + 3 < s.end) s.readHuffmanTables();
    if (s.markerAt(s.position, 0xDB) && s.position + 3 < s.end) s.readQuantisationTables();
    if (s.markerAt(s.position, 0xC0) && s.position + 9 < s.end &&
        s.position + 10 + 3 * uint32_t(s.at(s.position + 9)) <= s.end)
      s.readFrameHeader();
    if (s.markerAt(s.position, 0xDA) && s.position + 4 < s.end &&
        s.position + 8 + 2 * uint32_t(s.at(s.position + 4)) <= s.end)
      s.readScanAndDecode();
    if (s.markerAt(s.entropy, 0xD9)) break;
  }
}

void CJpegDecoder::State::readHuffmanTables() {
  const uint32_t segmentLength = be16(position + 2);
  uint32_t table = position + 4;
  // Tables follow each other until the next marker; one that runs past the data ends the list.
  while (table + 17 <= end) {
    const uint8_t slot = data[table];
    uint32_t total = 0;
    for (uint32_t n = 1; n <= 16; ++n) total += data[table + n];
    if (table + 17 + total > end) break;
    if (slot <= 3 || (slot >= 16 && slot <= 19)) {  // other classes or ids are skipped
      if (!huffman[slot]) huffman[slot] = std::make_unique<jpeg::HuffmanTable>();
      huffman[slot]->build(data + table + 1, data + table + 17, slot >= 16);
    }
    table += 17 + total;
    if (table >= end || data[table] == 0xFF) break;
  }
  position += segmentLength + 2;
}

void CJpegDecoder::State::readQuantisationTables() {
  const uint32_t segmentLength = be16(position + 2);
  uint32_t table = position + 4;
  while (table + 65 <= end) {
    std::memcpy(quant[data[table] & 15] + 1, data + table + 1, 64);  // precision bits not examined
    table += 65;
    if (table >= end || data[table] == 0xFF) break;
  }
  position += segmentLength + 2;
}

void CJpegDecoder::State::readFrameHeader() {
  const uint32_t segmentLength = be16(position + 2);
  const uint8_t count = at(position + 9);
  // A frame header with no or more than 3 components is ignored. Components beyond its count
  // keep what an earlier header set; a sampling factor of 0 matters only to a scan that uses
  // the component.
  if (count >= 1 && count <= 3) {
    frameRead = true;
    height = imageHeight = uint16_t(be16(position + 5));
    width = imageWidth = uint16_t(be16(position + 7));
    componentCount = count;
    for (uint32_t k = 0; k < count; ++k) {
      const uint32_t p = position + 10 + 3 * k;
      components[k] = {at(p), uint8_t(at(p + 1) >> 4), uint8_t(at(p + 1) & 15), at(p + 2)};
    }
  }
  position += segmentLength + 2;
}

void CJpegDecoder::State::readScanAndDecode() {
  const uint32_t segmentLength = be16(position + 2);
  const uint8_t count = at(position + 4);
  // Only grey (1) and YCbCr (3) scans over a known frame, with defined tables, are decoded.
  bool valid = count == 1 || count == 3;
  ScanSelector selectors[3] = {};
  for (uint32_t k = 0; valid && k < count; ++k) {
    const uint32_t p = position + 5 + 2 * k;
    selectors[k] = {at(p), uint8_t(at(p + 1) >> 4), uint8_t(at(p + 1) & 15)};
    valid = selectors[k].dc <= 3 && selectors[k].ac <= 3 && huffman[selectors[k].dc] &&
            huffman[16 + selectors[k].ac];
  }
  position += segmentLength + 2;
  if (!valid || !frameRead || position > end) return;
  // Scan component k samples as frame component k, also where k is beyond the frame's count.
  for (int k = 0; k < count; ++k)
    if (components[k].h == 0 || components[k].v == 0) return;

  int hmax = 0, vmax = 0;
  for (int k = 0; k < componentCount; ++k) {
    hmax = std::max<int>(hmax, components[k].h);
    vmax = std::max<int>(vmax, components[k].v);
  }
  const uint32_t mcuWidth = 8u * uint32_t(hmax), mcuHeight = 8u * uint32_t(vmax);
  const uint32_t w = (width + mcuWidth - 1) / mcuWidth * mcuWidth;
  const uint32_t h = (height + mcuHeight - 1) / mcuHeight * mcuHeight;
  if (w == 0 || h == 0 || w > 0xFFFF || h > 0xFFFF || uint64_t(w) * h > maxPixels)
    return;  // no picture for it
  width = uint16_t(w);
  height = uint16_t(h);

  jpeg::Scan scan{};
  scan.data = data;
  scan.start = position;
  scan.end = end;
  scan.componentCount = count;
  for (int k = 0; k < count; ++k) {
    // Scan component k takes frame component k's sampling and quantisation table.
    scan.components[k] = {huffman[selectors[k].dc].get(), huffman[16 + selectors[k].ac].get(),
                          quant[components[k].quant & 15] + 1, components[k].h, components[k].v};
  }
  scan.hmax = hmax;
  scan.vmax = vmax;
  scan.width = w;
  scan.height = h;
  scan.restartInterval = restartInterval;
  if (scaled != nullptr) {
    decodeScaledScan(scan);
    return;
  }
  picture.reset();
  picture = std::make_unique_for_overwrite<uint8_t[]>(size_t(w) * h * 3);  // every byte is written
  pictureWidth = width;
  pictureHeight = height;
  entropy = jpeg::decodeScan(scan, picture.get());
}

void CJpegDecoder::State::decodeScaledScan(const jpeg::Scan& scan) {
  Scaled& out = *scaled;
  const int size = out.size, denominator = 8 / size;
  const int bpp = jpeg::bytesPerPixel(out.format);
  const uint32_t outWidth = (uint32_t(imageWidth) * uint32_t(size) + 7) / 8;
  const uint32_t outHeight = (uint32_t(imageHeight) * uint32_t(size) + 7) / 8;
  out.produced = false;
  out.picture.resize(size_t(outWidth) * outHeight * size_t(bpp));
  out.width = uint16_t(outWidth);
  out.height = uint16_t(outHeight);

  if (!jpeg::samplingCovered(scan)) {
    // Rare samplings: the full picture, then the average of each denominator² pixels.
    out.full.resize(size_t(scan.width) * scan.height * 3);
    entropy = jpeg::decodeScan(scan, out.full.data());
    uint8_t* pixel = out.picture.data();
    for (uint32_t y = 0; y < outHeight; ++y) {
      for (uint32_t x = 0; x < outWidth; ++x, pixel += bpp) {
        uint32_t sum[3] = {}, n = 0;
        for (uint32_t dy = 0; dy < uint32_t(denominator); ++dy) {
          const uint32_t sy = y * uint32_t(denominator) + dy;
          for (uint32_t dx = 0; dx < uint32_t(denominator); ++dx) {
            const uint32_t sx = x * uint32_t(denominator) + dx;
            if (sx >= imageWidth || sy >= imageHeight) continue;
            const uint8_t* bgr = &out.full[(size_t(sy) * scan.width + sx) * 3];
            for (int c = 0; c < 3; ++c) sum[c] += bgr[c];
            ++n;
          }
        }
        const uint8_t b = uint8_t((sum[0] + n / 2) / n), g = uint8_t((sum[1] + n / 2) / n),
                      r = uint8_t((sum[2] + n / 2) / n);
        if (out.format == PixelFormat::Bgrx32) {
          pixel[0] = b, pixel[1] = g, pixel[2] = r, pixel[3] = 0xFF;
        } else {
          pixel[0] = r, pixel[1] = g, pixel[2] = b;
        }
      }
    }
    out.produced = true;
    return;
  }

  const uint32_t across = scan.width / 8 / uint32_t(scan.hmax);
  const uint32_t rows = scan.height / 8 / uint32_t(scan.vmax);
  jpeg::Planes planes{};
  jpeg::SamplePlane samples[3];
  for (int k = 0; k < scan.componentCount; ++k) {
    const jpeg::ScanComponent& c = scan.components[k];
    // A component subsampled both ways is transformed to more samples a block (up to the full
    // 8) rather than enlarged afterwards, as the common decoders do.
    int blockSize = size;
    while (blockSize < 8 && (scan.hmax * size) % (c.h * blockSize * 2) == 0 &&
           (scan.vmax * size) % (c.v * blockSize * 2) == 0)
      blockSize *= 2;
    const uint32_t planeWidth = across * uint32_t(c.h * blockSize);
    const uint32_t planeHeight = rows * uint32_t(c.v * blockSize);
    out.planes[k].resize(size_t(planeWidth) * planeHeight);
    planes.samples[k] = out.planes[k].data();
    planes.stride[k] = int(planeWidth);
    planes.size[k] = blockSize;
    // The samples that belong to the picture, as a decoder sizes a subsampled component.
    const uint32_t realWidth =
        (uint32_t(imageWidth) * uint32_t(c.h * blockSize) + uint32_t(scan.hmax * 8) - 1) /
        uint32_t(scan.hmax * 8);
    const uint32_t realHeight =
        (uint32_t(imageHeight) * uint32_t(c.v * blockSize) + uint32_t(scan.vmax * 8) - 1) /
        uint32_t(scan.vmax * 8);
    samples[k] = {out.planes[k].data(),
                  int(planeWidth),
                  int(realWidth),
                  int(realHeight),
                  scan.hmax * size / (c.h * blockSize),
                  scan.vmax * size / (c.v * blockSize)};
  }
  entropy = jpeg::decodeScanToPlanes(scan, planes);
  jpeg::convertPlanes(samples, scan.componentCount, size > 1, out.format, out.picture.data(),
                      int(outWidth) * bpp, int(outWidth), int(outHeight));
  out.produced = true;
}
