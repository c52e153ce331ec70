#include "bridge/rtp_jpeg_fit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "bridge/rtp_jpeg_jpeglib.h"
#include "bridge/rtp_jpeg_resample.h"

// Re-encoding keeps the picture's own quantisation: the source's luma and chroma tables (clamped
// to 8 bits) become the new frame's tables, so requantising costs little more than the source's
// own loss. Where the source has no usable table for a role (grayscale has no chroma table, RGB
// and CMYK tables belong to other components) the tables are the standard ones scaled to the
// quality the source's first table corresponds to.

namespace {

constexpr int kMaxScans = 200;  // progressive frames have about ten

// The luminance table of the JPEG standard's Annex K (quality 50), in natural order.
constexpr std::array<unsigned, 64> kStandardLuma = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};

// The IJG quality whose scaled standard table is closest on average to table.
int estimateQuality(const JQUANT_TBL& table) {
  double scale = 0;
  for (size_t i = 0; i < 64; ++i) scale += table.quantval[i] * 100.0 / kStandardLuma[i];
  scale /= 64;
  const double quality = scale <= 100 ? (200 - scale) / 2 : 5000 / scale;
  return std::clamp(static_cast<int>(std::lround(quality)), 1, 100);
}

bool sameTable(const JQUANT_TBL* a, const JQUANT_TBL* b) {
  return a != nullptr && b != nullptr &&
         std::memcmp(a->quantval, b->quantval, sizeof a->quantval) == 0;
}

bool eightBit(const JQUANT_TBL* table) {
  if (table == nullptr) return false;
  return std::all_of(std::begin(table->quantval), std::end(table->quantval),
                     [](UINT16 v) { return v <= 255; });
}

const JQUANT_TBL* tableOf(const jpeg_decompress_struct& in, int component) {
  const int slot = in.comp_info[component].quant_tbl_no;
  return slot >= 0 && slot < NUM_QUANT_TBLS ? in.quant_tbl_ptrs[slot] : nullptr;
}

// Whether the coefficients can be re-coded as they are: the frame differs from what the payload
// carries only in how it is entropy coded.
bool losslesslyFittable(const jpeg_decompress_struct& in) {
  if (in.num_components != 3 || in.jpeg_color_space != JCS_YCbCr || in.data_precision != 8)
    return false;
  if (in.image_width > CRtpJpegFitter::kMaxSide || in.image_height > CRtpJpegFitter::kMaxSide)
    return false;
  const jpeg_component_info* c = in.comp_info;
  if (c[0].h_samp_factor != 2 || (c[0].v_samp_factor != 1 && c[0].v_samp_factor != 2)) return false;
  for (int i = 1; i < 3; ++i)
    if (c[i].h_samp_factor != 1 || c[i].v_samp_factor != 1) return false;
  // 16-bit tables whose steps all fit 8 bits are written as 8-bit ones; larger steps can't be.
  if (!eightBit(tableOf(in, 0)) || !eightBit(tableOf(in, 1))) return false;
  return sameTable(tableOf(in, 1), tableOf(in, 2));
}

}  // namespace

struct CRtpJpegFitter::Codec {
  jpeg_decompress_struct in{};
  jpeg_compress_struct out{};
  rtpjpeg::ErrorTrap trap;
  rtpjpeg::VectorDestination destination;
  bool ready = false;
  size_t memoryLimit = kMaxMemory;

  // Between decoding and encoding a frame that is re-encoded.
  std::vector<uint8_t> pixels;
  int width = 0, height = 0, components = 0;  // of pixels
  bool invertedCmyk = false;
  int targetWidth = 0, targetHeight = 0;
  bool haveLuma = false, haveChroma = false;
  std::array<unsigned, 64> luma{}, chroma{};
  int quality = 75;

  enum class Step { Done, Reencode, Failed };

  Codec() {
    if (setjmp(trap.jump) != 0) return;  // ready stays false; the destructor cleans up
    in.err = rtpjpeg::installTrap(&trap);
    out.err = &trap.manager;
    jpeg_create_decompress(&in);
    jpeg_create_compress(&out);
    rtpjpeg::installScanGuard(&in, &trap, kMaxScans);
    ready = true;
  }
  ~Codec() {
    jpeg_destroy_decompress(&in);
    jpeg_destroy_compress(&out);
  }

  void abortBoth() {
    jpeg_abort_decompress(&in);
    jpeg_abort_compress(&out);
  }

  // False (with the text in trap.message) when the declared picture would need more than the
  // memory limit: coefficients of every component at full size, the decoded picture and the
  // buffers of a downscale.
  bool withinMemory() {
    const uint64_t pixelCount = uint64_t{in.image_width} * in.image_height;
    const uint64_t perPixel = 2 * static_cast<uint64_t>(std::max(in.num_components, 1)) + 16;
    if (pixelCount == 0 || pixelCount > memoryLimit / perPixel) {
      std::snprintf(trap.message, sizeof trap.message, "%ux%u is too large to decode",
                    in.image_width, in.image_height);
      return false;
    }
    in.mem->max_memory_to_use = static_cast<long>(memoryLimit);
    return true;
  }

  void startReading(const uint8_t* data, size_t size) {
    trap.message[0] = '\0';
    jpeg_mem_src(&in, data, static_cast<unsigned long>(size));
    jpeg_read_header(&in, TRUE);
  }

  // Re-codes the DCT coefficients with the standard Huffman tables, baseline, no restart
  // interval, into encoded.
  Step transcode(const uint8_t* data, size_t size, std::vector<uint8_t>* encoded) {
    if (setjmp(trap.jump) != 0) {
      abortBoth();
      return Step::Failed;
    }
    startReading(data, size);
    if (!withinMemory()) {
      abortBoth();
      return Step::Failed;
    }
    if (!losslesslyFittable(in)) {
      jpeg_abort_decompress(&in);
      return Step::Reencode;
    }
    jvirt_barray_ptr* coefficients = jpeg_read_coefficients(&in);
    jpeg_copy_critical_parameters(&in, &out);
    out.optimize_coding = FALSE;
    out.arith_code = FALSE;
    out.restart_interval = 0;
    out.restart_in_rows = 0;
    out.write_JFIF_header = TRUE;
    out.write_Adobe_marker = FALSE;
    // Ids in ascending order, the standard tables in the two slots a receiver rebuilds, and one
    // quantisation table for both chroma components (their steps are equal).
    for (int i = 0; i < 3; ++i) {
      out.comp_info[i].component_id = i + 1;
      out.comp_info[i].dc_tbl_no = out.comp_info[i].ac_tbl_no = i == 0 ? 0 : 1;
    }
    out.comp_info[2].quant_tbl_no = out.comp_info[1].quant_tbl_no;
    rtpjpeg::installDestination(&out, &destination, encoded);
    jpeg_write_coefficients(&out, coefficients);
    jpeg_finish_compress(&out);
    jpeg_finish_decompress(&in);
    return Step::Done;
  }

  // Decodes the frame into pixels (RGB, or CMYK as stored), already reduced by libjpeg's DCT
  // scaling towards the target size where a side is over the limit.
  Step decode(const uint8_t* data, size_t size) {
    if (setjmp(trap.jump) != 0) {
      abortBoth();
      return Step::Failed;
    }
    startReading(data, size);
    if (!withinMemory()) {
      abortBoth();
      return Step::Failed;
    }
    const bool cmyk = in.jpeg_color_space == JCS_CMYK || in.jpeg_color_space == JCS_YCCK;
    in.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    invertedCmyk = cmyk && in.saw_Adobe_marker;
    chooseSize();
    jpeg_start_decompress(&in);
    width = static_cast<int>(in.output_width);
    height = static_cast<int>(in.output_height);
    components = in.output_components;
    pixels.resize(static_cast<size_t>(width) * height * components);
    while (in.output_scanline < in.output_height) {
      JSAMPROW row = pixels.data() + size_t{in.output_scanline} * width * components;
      jpeg_read_scanlines(&in, &row, 1);
    }
    keepTables();
    jpeg_finish_decompress(&in);
    return Step::Done;
  }

  // The largest size within the limit, the aspect kept; libjpeg decodes at the smallest of its
  // M/8 scales that is still at least that large, the rest is an area downscale.
  void chooseSize() {
    const unsigned longest = std::max(in.image_width, in.image_height);
    targetWidth = static_cast<int>(in.image_width);
    targetHeight = static_cast<int>(in.image_height);
    in.scale_num = in.scale_denom = 1;
    if (longest <= static_cast<unsigned>(kMaxSide)) return;
    const double scale = static_cast<double>(kMaxSide) / longest;
    targetWidth = std::clamp(static_cast<int>(in.image_width * scale), 1, kMaxSide);
    targetHeight = std::clamp(static_cast<int>(in.image_height * scale), 1, kMaxSide);
    for (unsigned m = 1; m <= 8; ++m) {
      if ((in.image_width * m + 7) / 8 >= static_cast<unsigned>(targetWidth) &&
          (in.image_height * m + 7) / 8 >= static_cast<unsigned>(targetHeight)) {
        in.scale_num = m;
        in.scale_denom = 8;
        return;
      }
    }
  }

  void keepTables() {
    const JQUANT_TBL* first = tableOf(in, 0);
    quality = first != nullptr ? estimateQuality(*first) : 75;
    const bool ycc = in.jpeg_color_space == JCS_YCbCr || in.jpeg_color_space == JCS_GRAYSCALE;
    haveLuma = ycc && first != nullptr;
    haveChroma = in.jpeg_color_space == JCS_YCbCr && tableOf(in, 1) != nullptr;
    for (size_t i = 0; i < 64; ++i) {
      if (haveLuma) luma[i] = std::clamp<unsigned>(first->quantval[i], 1, 255);
      if (haveChroma) chroma[i] = std::clamp<unsigned>(tableOf(in, 1)->quantval[i], 1, 255);
    }
  }

  // CMYK as libjpeg delivers it to RGB, in place; Adobe's files store the inks inverted.
  void cmykToRgb() {
    const size_t count = static_cast<size_t>(width) * height;
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* s = pixels.data() + i * 4;
      int c = s[0], m = s[1], y = s[2], k = s[3];
      if (!invertedCmyk) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
      uint8_t* d = pixels.data() + i * 3;
      d[0] = static_cast<uint8_t>((c * k + 127) / 255);
      d[1] = static_cast<uint8_t>((m * k + 127) / 255);
      d[2] = static_cast<uint8_t>((y * k + 127) / 255);
    }
    pixels.resize(count * 3);
    components = 3;
  }

  // Baseline 4:2:0 with the standard Huffman tables, into encoded.
  Step encode(const uint8_t* rgb, int w, int h, std::vector<uint8_t>* encoded) {
    if (setjmp(trap.jump) != 0) {
      abortBoth();
      return Step::Failed;
    }
    out.image_width = static_cast<JDIMENSION>(w);
    out.image_height = static_cast<JDIMENSION>(h);
    out.input_components = 3;
    out.in_color_space = JCS_RGB;
    jpeg_set_defaults(&out);  // YCbCr 4:2:0, standard Huffman tables, no restart interval
    jpeg_set_quality(&out, quality, TRUE);
    if (haveLuma) jpeg_add_quant_table(&out, 0, luma.data(), 100, TRUE);
    if (haveChroma) jpeg_add_quant_table(&out, 1, chroma.data(), 100, TRUE);
    out.optimize_coding = FALSE;
    out.dct_method = JDCT_ISLOW;
    rtpjpeg::installDestination(&out, &destination, encoded);
    jpeg_start_compress(&out, TRUE);
    while (out.next_scanline < out.image_height) {
      JSAMPROW row = const_cast<JSAMPROW>(rgb + size_t{out.next_scanline} * w * 3);
      jpeg_write_scanlines(&out, &row, 1);
    }
    jpeg_finish_compress(&out);
    return Step::Done;
  }
};

CRtpJpegFitter::CRtpJpegFitter() : m_codec(std::make_unique<Codec>()) {}
CRtpJpegFitter::~CRtpJpegFitter() = default;

void CRtpJpegFitter::setMemoryLimit(size_t bytes) {
  m_codec->memoryLimit = std::min(bytes, kMaxMemory);
}

RtpJpegFitResult CRtpJpegFitter::fit(const uint8_t* data, size_t size) {
  RtpJpegFitResult result;
  if (fitsRtpJpeg(data, size, &result.reason)) {
    result.fit = RtpJpegFit::Untouched;
    result.reason.clear();
    return result;
  }
  Codec& codec = *m_codec;
  const auto unusable = [&](const std::string& why) {
    result.fit = RtpJpegFit::Unusable;
    result.jpeg.clear();
    if (!why.empty()) result.reason += ": " + why;
    return result;
  };
  if (!codec.ready) return unusable("no JPEG codec");
  if (data == nullptr || size < 2 || data[0] != 0xFF || data[1] != 0xD8) return unusable("");

  const Codec::Step step = codec.transcode(data, size, &result.jpeg);
  if (step == Codec::Step::Failed) return unusable(codec.trap.message);
  if (step == Codec::Step::Done) {
    if (fitsRtpJpeg(result.jpeg.data(), result.jpeg.size(), nullptr)) {
      result.fit = RtpJpegFit::Transcoded;
      return result;
    }
    // The coefficients did not fit after all; the picture still can.
  }

  if (codec.decode(data, size) == Codec::Step::Failed) return unusable(codec.trap.message);
  if (codec.components == 4) codec.cmykToRgb();
  if (codec.components != 3) return unusable("unsupported colour space");
  const uint8_t* rgb = codec.pixels.data();
  std::vector<uint8_t> scaled;
  int w = codec.width, h = codec.height;
  if (w > codec.targetWidth || h > codec.targetHeight) {
    w = std::min(w, codec.targetWidth);
    h = std::min(h, codec.targetHeight);
    scaled = rtpjpeg::downscaleArea(rgb, codec.width, codec.height, w, h);
    rgb = scaled.data();
  }
  if (codec.encode(rgb, w, h, &result.jpeg) == Codec::Step::Failed)
    return unusable(codec.trap.message);
  if (!fitsRtpJpeg(result.jpeg.data(), result.jpeg.size(), nullptr))
    return unusable("re-encoded frame does not fit");
  result.fit = RtpJpegFit::Reencoded;
  return result;
}
