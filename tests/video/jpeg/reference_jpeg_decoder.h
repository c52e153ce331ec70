#pragma once
// A plain, step-by-step baseline JPEG decoder kept as the yardstick for CJpegDecoder: it follows
// the decoding rules one bit and one byte at a time, with no tables, shortcuts or SIMD, so that
// the fast decoder can be compared with it picture by picture, byte by byte.
#include <cstdint>
#include <vector>

class ReferenceJpegDecoder {
 public:
  // Same contract as CJpegDecoder::decode: data holds length bytes plus 3 writable bytes.
  bool decode(uint8_t* data, uint32_t length);
  // Pictures of more pixels (after rounding to whole MCUs) are not decoded.
  void setPixelLimit(uint64_t maxPixels) { maxPixels_ = maxPixels; }

  // With a picture, its own size (a frame header read after the scan may state another one).
  uint16_t width() const { return hasPicture_ ? pictureWidth_ : width_; }
  uint16_t height() const { return hasPicture_ ? pictureHeight_ : height_; }
  bool hasPicture() const { return hasPicture_; }
  const std::vector<uint8_t>& picture() const { return picture_; }

 private:
  struct HuffmanTable {
    bool present = false;
    int count = 0;
    std::vector<uint16_t> codes;
    std::vector<uint8_t> sizes;
    std::vector<uint8_t> values;
    int16_t maxcode[17] = {};
    uint16_t mincode[17] = {};
    int32_t valptr[17] = {};
  };
  struct FrameComponent {
    uint8_t id = 0, h = 0, v = 0, quant = 0;
  };
  struct ScanComponent {
    uint8_t selector = 0, dc = 0, ac = 0;
  };
  // Everything the bit reader's future depends on.
  struct ReaderState {
    uint32_t entropy;
    int bitsLeft;
    uint8_t currentByte;
    bool operator==(const ReaderState&) const = default;
  };

  uint8_t at(uint32_t offset) const { return offset < end_ ? data_[offset] : 0; }
  uint32_t be16(uint32_t offset) const { return uint32_t(at(offset)) << 8 | at(offset + 1); }
  bool markerAt(uint32_t offset, uint8_t second) const {
    return offset + 1 < end_ && data_[offset] == 0xFF && data_[offset + 1] == second;
  }

  void readHuffmanTables();
  void readQuantisationTables();
  void readFrameHeader();
  void readScanHeaderAndDecode();
  void decodeScan();
  void decodeMcu(uint32_t cx, uint32_t cy);
  void decodeBlock(int k);
  void convertPicture();

  uint8_t nextByte();
  int readBit();
  uint16_t receive(int n);
  int decodeSymbol(const HuffmanTable& table);

  uint8_t* data_ = nullptr;
  uint32_t end_ = 0;
  uint32_t position_ = 0;
  uint32_t entropy_ = 0;  // offset of the entropy pointer
  int bitsLeft_ = 0;
  uint8_t currentByte_ = 0;
  uint16_t restartInterval_ = 0;
  uint8_t quant_[16][64] = {};
  HuffmanTable huffman_[20];
  bool frameValid_ = false;
  uint16_t width_ = 0, height_ = 0;
  uint16_t pictureWidth_ = 0, pictureHeight_ = 0;
  uint8_t nf_ = 0;
  FrameComponent frame_[3];
  uint8_t ns_ = 0;
  ScanComponent scan_[3];
  uint8_t hmax_ = 0, vmax_ = 0;
  int16_t dcPred_[3] = {};
  int16_t block_[64] = {};
  std::vector<uint8_t> mcu_;
  std::vector<uint8_t> picture_;
  bool hasPicture_ = false;
  uint64_t maxPixels_ = uint64_t(8192) * 8192;
};
