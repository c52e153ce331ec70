#include "reference_jpeg_decoder.h"

#include <algorithm>
#include <cstddef>

namespace {

constexpr int kZigZag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                             12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                             35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                             58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// 32-bit two's complement arithmetic: sums and products wrap, ">>" is arithmetic.
using U = uint32_t;
int32_t sra(U v, int n) {
  return int32_t(v) >> n;
}
int16_t roundOut(U x) {
  return int16_t(sra(x + 0x40008000u, 16) - 16384);
}

void transform(int16_t* v, int stride) {
  const int32_t x0 = v[0], x1 = v[stride], x2 = v[2 * stride], x3 = v[3 * stride];
  const int32_t x4 = v[4 * stride], x5 = v[5 * stride], x6 = v[6 * stride], x7 = v[7 * stride];
  const int32_t u = 4 * x1;
  const int32_t w = 4 * x7;
  const int32_t f = sra(U(x3 + x5) * 23170u + 0x40001000u, 13) - 131072;
  const int32_t d = sra(U(x3 - x5) * 23170u + 0x40001000u, 13) - 131072;
  const U l = U(x0 + x4) * 23170u;
  const U r = U(x0 - x4) * 23170u;
  const U h = U(x2) * 30274u + U(x6) * 12540u;
  const U o = U(x2) * 12540u - U(x6) * 30274u;
  const U g = U(d + w) * 1598u + U(f + u) * 8035u;
  const U g2 = U(f + u) * 1598u - U(d + w) * 8035u;
  const U t = U(u - f) * 4551u + U(w - d) * 6811u;
  const U m = U(u - f) * 6811u - U(w - d) * 4551u;
  v[0] = roundOut(l + h + g);
  v[stride] = roundOut(r + o + m);
  v[2 * stride] = roundOut(r - o + t);
  v[3 * stride] = roundOut(l - h + g2);
  v[4 * stride] = roundOut(l - h - g2);
  v[5 * stride] = roundOut(r - o - t);
  v[6 * stride] = roundOut(r + o - m);
  v[7 * stride] = roundOut(l + h - g);
}

uint8_t clampByte(int32_t v) {
  return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

}  // namespace

bool ReferenceJpegDecoder::decode(uint8_t* data, uint32_t length) {
  data_ = data;
  // Move the end-of-image marker to the end of the length rounded up to 4 bytes.
  const uint64_t rounded = (uint64_t(length) + 3) & ~uint64_t(3);
  end_ = length;
  if (rounded > length && rounded <= 0xFFFFFFFFu) {
    end_ = uint32_t(rounded);
    data[end_ - 1] = 0xD9;
    data[end_ - 2] = 0xFF;
    for (uint32_t i = length >= 2 ? length - 2 : 0; i + 3 <= end_; ++i) data[i] = 0;
  }
  uint32_t start = 0;
  while (start + 1 < end_ && !(data[start] == 0xFF && data[start + 1] == 0xD8)) ++start;
  if (start + 1 >= end_) return false;
  position_ = start + 2;
  entropy_ = position_;

  for (int pass = 0; pass < 51; ++pass) {
    if (position_ + 3 < end_ && data_[position_] == 0xFF && data_[position_ + 1] >= 0xE0)
      position_ += 2 + be16(position_ + 2);
    if (markerAt(position_, 0xDD) && position_ + 5 < end_) {
      restartInterval_ = uint16_t(be16(position_ + 4));
      position_ += 6;
    }
    if (markerAt(position_, 0xC4) && position_ + 3 < end_) readHuffmanTables();
    if (markerAt(position_, 0xDB) && position_ + 3 < end_) readQuantisationTables();
    if (markerAt(position_, 0xC0) && position_ + 9 < end_ &&
        position_ + 10 + 3 * uint32_t(at(position_ + 9)) <= end_)
      readFrameHeader();
    if (markerAt(position_, 0xDA) && position_ + 4 < end_ &&
        position_ + 8 + 2 * uint32_t(at(position_ + 4)) <= end_)
      readScanHeaderAndDecode();
    if (markerAt(entropy_, 0xD9)) break;
  }
  return hasPicture_;
}

void ReferenceJpegDecoder::readHuffmanTables() {
  const uint32_t segmentLength = be16(position_ + 2);
  uint32_t table = position_ + 4;
  while (table + 17 <= end_) {
    const uint8_t slot = data_[table];
    int counts[17] = {};
    int total = 0;
    for (int n = 1; n <= 16; ++n) total += counts[n] = data_[table + n];
    if (table + 17 + uint32_t(total) > end_) break;
    if (slot <= 3 || (slot >= 16 && slot <= 19)) {
      HuffmanTable& t = huffman_[slot];
      t = HuffmanTable{};
      t.present = true;
      t.count = total;
      t.codes.assign(size_t(total) + 1, 0);
      t.sizes.assign(size_t(total) + 1, 0);
      t.values.assign(size_t(total) + 1, 0);
      std::copy(data_ + table + 17, data_ + table + 17 + total, t.values.begin());
      int k = 0;
      for (int n = 1; n <= 16; ++n)
        for (int c = 0; c < counts[n]; ++c) t.sizes[size_t(k++)] = uint8_t(n);
      if (total > 0) {
        uint32_t code = 0;
        int size = t.sizes[0];
        k = 0;
        for (;;) {
          while (t.sizes[size_t(k)] == size) t.codes[size_t(k++)] = uint16_t(code++);
          if (t.sizes[size_t(k)] == 0) break;
          while (t.sizes[size_t(k)] != size) {
            code <<= 1;
            ++size;
          }
        }
      }
      int j = 0;
      for (int n = 1; n <= 16; ++n) {
        if (counts[n] == 0) {
          t.maxcode[n] = -1;
        } else {
          t.valptr[n] = j;
          t.mincode[n] = t.codes[size_t(j)];
          j += counts[n];
          t.maxcode[n] = int16_t(t.codes[size_t(j - 1)]);
        }
      }
    }
    table += 17 + uint32_t(total);
    if (table >= end_ || data_[table] == 0xFF) break;
  }
  position_ += segmentLength + 2;
}

void ReferenceJpegDecoder::readQuantisationTables() {
  const uint32_t segmentLength = be16(position_ + 2);
  uint32_t table = position_ + 4;
  while (table + 65 <= end_) {
    std::copy(data_ + table + 1, data_ + table + 65, quant_[data_[table] & 15]);
    table += 65;
    if (table >= end_ || data_[table] == 0xFF) break;
  }
  position_ += segmentLength + 2;
}

void ReferenceJpegDecoder::readFrameHeader() {
  const uint32_t segmentLength = be16(position_ + 2);
  const uint8_t nf = at(position_ + 9);
  // Components beyond Nf keep what an earlier frame header set. Sampling factors of 0 are
  // refused only where a scan divides by them.
  if (nf >= 1 && nf <= 3) {
    frameValid_ = true;
    height_ = uint16_t(be16(position_ + 5));
    width_ = uint16_t(be16(position_ + 7));
    nf_ = nf;
    for (int k = 0; k < nf; ++k) {
      const uint32_t p = position_ + 10 + 3 * uint32_t(k);
      frame_[k] = {at(p), uint8_t(at(p + 1) >> 4), uint8_t(at(p + 1) & 15), at(p + 2)};
    }
  }
  position_ += segmentLength + 2;
}

void ReferenceJpegDecoder::readScanHeaderAndDecode() {
  const uint32_t segmentLength = be16(position_ + 2);
  const uint8_t ns = at(position_ + 4);
  bool valid = ns == 1 || ns == 3;
  for (int k = 0; valid && k < ns; ++k) {
    const uint32_t p = position_ + 5 + 2 * uint32_t(k);
    scan_[k] = {at(p), uint8_t(at(p + 1) >> 4), uint8_t(at(p + 1) & 15)};
    valid = scan_[k].dc <= 3 && scan_[k].ac <= 3 && huffman_[scan_[k].dc].present &&
            huffman_[16 + scan_[k].ac].present;
  }
  position_ += segmentLength + 2;
  if (!valid || !frameValid_ || position_ > end_) return;
  // Scan component k samples as frame component k, also where k is beyond Nf.
  for (int k = 0; k < ns; ++k)
    if (frame_[k].h == 0 || frame_[k].v == 0) return;
  ns_ = ns;
  hmax_ = vmax_ = 0;
  for (int k = 0; k < nf_; ++k) {
    hmax_ = std::max(hmax_, frame_[k].h);
    vmax_ = std::max(vmax_, frame_[k].v);
  }
  const uint32_t mcuWidth = 8u * hmax_, mcuHeight = 8u * vmax_;
  const uint32_t w = (width_ + mcuWidth - 1) / mcuWidth * mcuWidth;
  const uint32_t h = (height_ + mcuHeight - 1) / mcuHeight * mcuHeight;
  if (w == 0 || h == 0 || w > 0xFFFF || h > 0xFFFF || uint64_t(w) * h > maxPixels_) return;
  width_ = uint16_t(w);
  height_ = uint16_t(h);
  decodeScan();
  convertPicture();
  hasPicture_ = true;
  pictureWidth_ = width_;
  pictureHeight_ = height_;
}

void ReferenceJpegDecoder::decodeScan() {
  const uint32_t across = (width_ / 8u) / hmax_, rows = (height_ / 8u) / vmax_;
  bitsLeft_ = 0;
  picture_.assign(size_t(width_) * height_ * 3, 0);
  dcPred_[0] = dcPred_[1] = dcPred_[2] = 0;
  mcu_.assign(size_t(hmax_) * vmax_ * 192, 0);
  entropy_ = position_;
  uint32_t count = 0;
  for (uint32_t cy = 0; cy < rows; ++cy) {
    for (uint32_t cx = 0; cx < across; ++cx) {
      decodeMcu(cx, cy);
      if (++count == restartInterval_) {
        count = 0;
        if (entropy_ + 1 < end_ && data_[entropy_] == 0xFF && (data_[entropy_ + 1] >> 4) == 0xD) {
          bitsLeft_ = 0;
          entropy_ += 2;
          dcPred_[0] = dcPred_[1] = dcPred_[2] = 0;
        }
      }
    }
  }
  mcu_.clear();
}

void ReferenceJpegDecoder::decodeMcu(uint32_t cx, uint32_t cy) {
  const uint32_t W = 8u * hmax_;
  for (int k = 0; k < ns_; ++k) {
    const uint32_t H = frame_[k].h, V = frame_[k].v, rh = hmax_ / H, rv = vmax_ / V;
    for (uint32_t by = 0; by < V; ++by) {
      for (uint32_t bx = 0; bx < H; ++bx) {
        decodeBlock(k);
        for (uint32_t i = 0; i < 8; ++i)
          for (uint32_t j = 0; j < 8; ++j)
            for (uint32_t b = 0; b < rv; ++b)
              for (uint32_t a = 0; a < rh; ++a) {
                const uint32_t x = 8 * rh * bx + rh * j + a, y = 8 * rv * by + rv * i + b;
                mcu_[3 * (y * W + x) + uint32_t(k)] = uint8_t(block_[i * 8 + j]);
              }
      }
    }
    for (uint32_t y = 0; y < 8u * vmax_; ++y)
      for (uint32_t x = 0; x < W; ++x)
        for (uint32_t c = 0; c < ns_; ++c)
          picture_[((8u * vmax_ * cy + y) * width_ + W * cx + x) * ns_ + c] =
              mcu_[3 * (y * W + x) + c];
  }
}

void ReferenceJpegDecoder::decodeBlock(int k) {
  const int t = decodeSymbol(huffman_[scan_[k].dc]);
  auto extend = [](uint16_t v, int size) -> int {
    if (size >= 1 && size <= 15 && v < (1 << (size - 1))) return int(v) - (1 << size) + 1;
    return v;
  };
  block_[0] = int16_t(extend(receive(t), t));
  std::fill(block_ + 1, block_ + 64, int16_t(0));
  const HuffmanTable& ac = huffman_[16 + scan_[k].ac];
  int i = 1;
  // Zero runs past coefficient 63 change nothing and go on until another symbol ends the block.
  // Only a reader standing at the end of the data can repeat a state; a zero run starting in a
  // state one already started in would repeat forever, so the block ends before it.
  ReaderState seen[16];
  int seenCount = 0;
  for (;;) {
    if (i > 63) {
      const ReaderState now{entropy_, bitsLeft_, currentByte_};
      if (seenCount > 0 && seen[0].entropy != now.entropy) seenCount = 0;
      if (std::find(seen, seen + seenCount, now) != seen + seenCount || seenCount == 16) break;
      seen[seenCount++] = now;
    }
    const int rs = decodeSymbol(ac);
    const int run = rs / 16, size = rs % 16;
    if (size != 0) {
      i += run;
      if (i > 63) break;
      block_[i] = int16_t(extend(receive(size), size));
      if (i == 63) break;
      ++i;
    } else {
      if (run != 15) break;
      i = std::min(i + 16, 64);  // past 63 only "past 63" matters
    }
  }
  dcPred_[k] = int16_t(dcPred_[k] + block_[0]);
  block_[0] = dcPred_[k];
  const uint8_t* q = quant_[frame_[k].quant & 15];
  for (int n = 0; n < 64; ++n) block_[n] = int16_t(block_[n] * q[n]);
  int16_t natural[64];
  for (int n = 0; n < 64; ++n) natural[kZigZag[n]] = block_[n];
  for (int row = 0; row < 8; ++row) transform(natural + 8 * row, 1);
  for (int col = 0; col < 8; ++col) transform(natural + col, 8);
  for (int n = 0; n < 64; ++n) {
    const int16_t v = int16_t(natural[n] + 128);
    block_[n] = int16_t(v < 0 ? 0 : v > 255 ? 255 : v);
  }
}

void ReferenceJpegDecoder::convertPicture() {
  const size_t pixels = size_t(width_) * height_;
  const std::vector<uint8_t> copy(picture_.begin(), picture_.begin() + ptrdiff_t(pixels * ns_));
  for (size_t p = 0; p < pixels; ++p) {
    if (ns_ == 3) {
      const int32_t y = copy[3 * p], cb = copy[3 * p + 1] - 128, cr = copy[3 * p + 2] - 128;
      picture_[3 * p] = clampByte((y * 65536 + 116129 * cb) >> 16);
      picture_[3 * p + 1] = clampByte((y * 65536 - 22553 * cb - 46801 * cr) >> 16);
      picture_[3 * p + 2] = clampByte((y * 65536 + 91881 * cr) >> 16);
    } else {
      picture_[3 * p] = picture_[3 * p + 1] = picture_[3 * p + 2] = copy[p];
    }
  }
}

uint8_t ReferenceJpegDecoder::nextByte() {
  if (entropy_ >= end_) return data_[end_ - 1];  // past the data: repeat the last byte
  if (data_[entropy_] == 0xFF && entropy_ + 1 < end_ && data_[entropy_ + 1] == 0xD9)
    return data_[entropy_ - 1];
  return data_[entropy_++];
}

int ReferenceJpegDecoder::readBit() {
  if (bitsLeft_ == 0) {
    currentByte_ = nextByte();
    bitsLeft_ = 8;
    if (currentByte_ == 0xFF) nextByte();
  }
  const int bit = currentByte_ >> 7;
  currentByte_ = uint8_t(currentByte_ << 1);
  --bitsLeft_;
  return bit;
}

uint16_t ReferenceJpegDecoder::receive(int n) {
  uint16_t v = 0;
  for (int i = 0; i < n; ++i) v = uint16_t(v << 1 | readBit());
  return v;
}

int ReferenceJpegDecoder::decodeSymbol(const HuffmanTable& table) {
  int code = readBit();
  int n = 1;
  while (table.maxcode[n] == -1 || uint16_t(code) > uint16_t(table.maxcode[n])) {
    if (n == 16) return 0;  // no code of up to 16 bits matches (damaged data or table)
    code = 2 * code + readBit();
    ++n;
  }
  const int32_t index = table.valptr[n] + code - table.mincode[n];
  return index >= 0 && index < table.count ? table.values[size_t(index)] : 0;
}
