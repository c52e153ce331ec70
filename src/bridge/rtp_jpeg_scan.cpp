// The marker scan that decides whether a JPEG frame goes out as it is. It reads the segments up
// to the start of scan only (a few hundred bytes for a DVR frame) and never the entropy data,
// apart from checking that the image ends with its end-of-image marker.
#include <array>
#include <cstring>
#include <mutex>

#include "bridge/rtp_jpeg_fit.h"
#include "bridge/rtp_jpeg_jpeglib.h"

namespace {

// The Huffman tables of the JPEG standard's Annex K, as a receiver rebuilds them. Taken from
// libjpeg's own defaults so that they are the very tables the encoder writes.
struct HuffmanTable {
  std::array<uint8_t, 16> counts{};  // codes of length 1..16
  std::array<uint8_t, 256> values{};
  size_t valueCount = 0;
  bool operator==(const HuffmanTable& other) const {
    return counts == other.counts && valueCount == other.valueCount &&
           std::memcmp(values.data(), other.values.data(), valueCount) == 0;
  }
};

struct StandardTables {
  HuffmanTable dcLuma, acLuma, dcChroma, acChroma;
  bool valid = false;
};

HuffmanTable fromLibjpeg(const JHUFF_TBL* table) {
  HuffmanTable out;
  if (table == nullptr) return out;
  for (size_t i = 0; i < 16; ++i) {
    out.counts[i] = table->bits[i + 1];
    out.valueCount += table->bits[i + 1];
  }
  if (out.valueCount > out.values.size()) out.valueCount = out.values.size();
  std::memcpy(out.values.data(), table->huffval, out.valueCount);
  return out;
}

const StandardTables& standardTables() {
  static const StandardTables tables = [] {
    StandardTables t;
    jpeg_compress_struct info{};
    rtpjpeg::ErrorTrap trap;
    info.err = rtpjpeg::installTrap(&trap);
    if (setjmp(trap.jump) != 0) {
      jpeg_destroy_compress(&info);
      return t;  // no table then counts as standard: every frame is re-coded, never sent wrong
    }
    jpeg_create_compress(&info);
    info.in_color_space = JCS_YCbCr;
    info.input_components = 3;
    jpeg_set_defaults(&info);
    t.dcLuma = fromLibjpeg(info.dc_huff_tbl_ptrs[0]);
    t.acLuma = fromLibjpeg(info.ac_huff_tbl_ptrs[0]);
    t.dcChroma = fromLibjpeg(info.dc_huff_tbl_ptrs[1]);
    t.acChroma = fromLibjpeg(info.ac_huff_tbl_ptrs[1]);
    t.valid = t.dcLuma.valueCount == 12 && t.acLuma.valueCount == 162;
    jpeg_destroy_compress(&info);
    return t;
  }();
  return tables;
}

// What a Huffman slot holds at the start of the scan.
enum class Slot : uint8_t { Empty, StandardLuma, StandardChroma, Custom };

struct Component {
  uint8_t id = 0;
  uint8_t sampling = 0;  // horizontal factor in the high nibble
  uint8_t quantTable = 0;
};

struct Header {
  bool haveFrame = false;
  uint8_t frameType = 0;
  uint8_t precision = 0;
  uint16_t width = 0, height = 0;
  uint8_t componentCount = 0;
  std::array<Component, 4> components{};
  std::array<std::array<Slot, 4>, 2> huffman{};  // [DC, AC][slot]
  std::array<uint8_t, 4> quantPrecision{};       // 0 undefined, 8 or 16
  bool adobeRgb = false;
};

uint16_t be16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

bool fail(std::string* reason, const std::string& text) {
  if (reason != nullptr) *reason = text;
  return false;
}

std::string hex(uint8_t marker) {
  static const char digits[] = "0123456789ABCDEF";
  return std::string("0x") + digits[marker >> 4] + digits[marker & 15];
}

// DHT: any number of tables. False when a table is malformed.
bool readHuffman(const uint8_t* p, size_t length, Header& h) {
  const StandardTables& standard = standardTables();
  while (length > 0) {
    if (length < 17) return false;
    const uint8_t tableClass = p[0] >> 4, slot = p[0] & 15;
    if (tableClass > 1 || slot > 3) return false;
    HuffmanTable table;
    for (size_t i = 0; i < 16; ++i) {
      table.counts[i] = p[1 + i];
      table.valueCount += p[1 + i];
    }
    if (table.valueCount > 256 || length < 17 + table.valueCount) return false;
    std::memcpy(table.values.data(), p + 17, table.valueCount);
    Slot kind = Slot::Custom;
    if (standard.valid) {
      if (table == (tableClass == 0 ? standard.dcLuma : standard.acLuma))
        kind = Slot::StandardLuma;
      else if (table == (tableClass == 0 ? standard.dcChroma : standard.acChroma))
        kind = Slot::StandardChroma;
    }
    h.huffman[tableClass][slot] = kind;
    p += 17 + table.valueCount;
    length -= 17 + table.valueCount;
  }
  return true;
}

// DQT: any number of tables. False when a table is malformed.
bool readQuant(const uint8_t* p, size_t length, Header& h) {
  while (length > 0) {
    const uint8_t precision = p[0] >> 4, slot = p[0] & 15;
    const size_t tableSize = precision == 0 ? 64 : 128;
    if (precision > 1 || slot > 3 || length < 1 + tableSize) return false;
    h.quantPrecision[slot] = precision == 0 ? 8 : 16;
    p += 1 + tableSize;
    length -= 1 + tableSize;
  }
  return true;
}

bool readFrame(uint8_t type, const uint8_t* p, size_t length, Header& h) {
  if (h.haveFrame || length < 6) return false;
  h.haveFrame = true;
  h.frameType = type;
  h.precision = p[0];
  h.height = be16(p + 1);
  h.width = be16(p + 3);
  h.componentCount = p[5];
  if (length < 6 + size_t{h.componentCount} * 3) return false;
  for (size_t i = 0; i < h.componentCount && i < h.components.size(); ++i)
    h.components[i] = {p[6 + i * 3], p[7 + i * 3], p[8 + i * 3]};
  return true;
}

// What the frame header alone says about the frame.
bool frameFits(const Header& h, std::string* reason) {
  if (!h.haveFrame) return fail(reason, "no frame header before the scan");
  if (h.frameType == 0xC2 || h.frameType == 0xC6 || h.frameType == 0xCA || h.frameType == 0xCE)
    return fail(reason, "progressive");
  if (h.frameType >= 0xC9) return fail(reason, "arithmetic coding");
  if (h.frameType != 0xC0) return fail(reason, "frame type " + hex(h.frameType) + ", not baseline");
  if (h.precision != 8) return fail(reason, std::to_string(h.precision) + "-bit samples");
  if (h.componentCount == 1) return fail(reason, "grayscale");
  if (h.componentCount != 3) return fail(reason, std::to_string(h.componentCount) + " components");
  if (h.width == 0 || h.height == 0) return fail(reason, "no image size in the frame header");
  if (h.width > CRtpJpegFitter::kMaxSide || h.height > CRtpJpegFitter::kMaxSide)
    return fail(reason, std::to_string(h.width) + "x" + std::to_string(h.height) +
                            " is over 2040 pixels a side");
  const Component &y = h.components[0], &cb = h.components[1], &cr = h.components[2];
  // Receivers take the components in ascending id order as Y, Cb, Cr.
  if (!(y.id < cb.id && cb.id < cr.id)) return fail(reason, "component ids out of order");
  if ((y.id == 'R' && cb.id == 'G') || h.adobeRgb) return fail(reason, "RGB colour");
  if ((y.sampling != 0x21 && y.sampling != 0x22) || cb.sampling != 0x11 || cr.sampling != 0x11) {
    const auto factors = [](uint8_t s) {
      return std::to_string(s >> 4) + "x" + std::to_string(s & 15);
    };
    return fail(reason, "sampling " + factors(y.sampling) + "," + factors(cb.sampling) + "," +
                            factors(cr.sampling));
  }
  for (const Component* c : {&y, &cb, &cr}) {
    if (c->quantTable > 3 || h.quantPrecision[c->quantTable] == 0)
      return fail(reason, "missing quantisation table");
    if (h.quantPrecision[c->quantTable] != 8) return fail(reason, "16-bit quantisation table");
  }
  // The payload carries one table for luma and one for both chroma components.
  if (cb.quantTable != cr.quantTable) return fail(reason, "Cb and Cr quantised differently");
  return true;
}

bool scanFits(const Header& h, const uint8_t* p, size_t length, std::string* reason) {
  if (length < 1 || length < 1 + size_t{p[0]} * 2 + 3) return fail(reason, "malformed scan header");
  if (p[0] != 3) return fail(reason, "scan of " + std::to_string(p[0]) + " components");
  for (size_t i = 0; i < 3; ++i) {
    if (p[1 + i * 2] != h.components[i].id) return fail(reason, "scan components out of order");
    const uint8_t dc = p[2 + i * 2] >> 4, ac = p[2 + i * 2] & 15;
    if (dc > 3 || ac > 3) return fail(reason, "malformed scan header");
    const Slot want = i == 0 ? Slot::StandardLuma : Slot::StandardChroma;
    const Slot haveDc = h.huffman[0][dc], haveAc = h.huffman[1][ac];
    if (haveDc == Slot::Empty || haveAc == Slot::Empty) return fail(reason, "no Huffman tables");
    if (haveDc != want || haveAc != want) return fail(reason, "custom Huffman tables");
  }
  const uint8_t* spectral = p + 1 + 3 * 2;
  if (spectral[0] != 0 || spectral[1] != 63 || spectral[2] != 0)
    return fail(reason, "malformed scan header");
  return true;
}

}  // namespace

bool fitsRtpJpeg(const uint8_t* data, size_t size, std::string* reason) {
  if (data == nullptr || size < 4 || data[0] != 0xFF || data[1] != 0xD8)
    return fail(reason, "not a JPEG image");
  Header h;
  size_t pos = 2;
  // Every step moves on by at least two bytes, so the loop ends within size / 2 steps.
  for (;;) {
    if (pos >= size || data[pos] != 0xFF) {
      if (pos >= size) return fail(reason, "no scan");
      return fail(reason, "stray bytes between segments");
    }
    while (pos < size && data[pos] == 0xFF) ++pos;  // fill bytes
    if (pos >= size) return fail(reason, "no scan");
    const uint8_t marker = data[pos++];
    if (marker == 0xD9) return fail(reason, "no scan");
    if (marker == 0x01 || marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x00)
      return fail(reason, "stray marker " + hex(marker));
    if (size - pos < 2) return fail(reason, "truncated header");
    const size_t length = be16(data + pos);
    if (length < 2 || length > size - pos) return fail(reason, "truncated header");
    const uint8_t* body = data + pos + 2;
    const size_t bodyLength = length - 2;
    pos += length;
    if (marker == 0xC4) {
      if (!readHuffman(body, bodyLength, h)) return fail(reason, "malformed Huffman table");
    } else if (marker == 0xDB) {
      if (!readQuant(body, bodyLength, h)) return fail(reason, "malformed quantisation table");
    } else if (marker == 0xDD) {
      if (bodyLength < 2) return fail(reason, "malformed restart interval");
      if (be16(body) != 0) return fail(reason, "restart interval");
    } else if (marker == 0xEE) {
      // Adobe's marker; transform 0 means the three components are R, G, B.
      if (bodyLength >= 12 && std::memcmp(body, "Adobe", 5) == 0 && body[11] == 0)
        h.adobeRgb = true;
    } else if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
               marker != 0xCC) {
      if (!readFrame(marker, body, bodyLength, h)) return fail(reason, "malformed frame header");
    } else if (marker == 0xDA) {
      if (!frameFits(h, reason) || !scanFits(h, body, bodyLength, reason)) return false;
      // The payloader sends everything after the scan header as entropy data.
      if (size - pos < 2 || data[size - 2] != 0xFF || data[size - 1] != 0xD9)
        return fail(reason, "no end-of-image marker at the end");
      return true;
    }
  }
}
