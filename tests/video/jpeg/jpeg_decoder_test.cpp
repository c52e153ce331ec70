// CJpegDecoder's observable behaviour: picture sizes, the alignment step, the marker segments it
// reads, its arithmetic, its agreement with libjpeg-turbo and its handling of damaged input.
#include "video/jpeg_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "jpeg_samples.h"
#include "jpeg_test_support.h"
#include "video/jpeg/colour_convert.h"
#include "video/jpeg/colour_convert_simd.h"
#include "video/jpeg/idct.h"
#include "video/jpeg/idct_simd.h"

namespace {

using jpegsamples::Options;

Options layout(int width, int height, int lumaH, int lumaV, int quality = 75) {
  Options o;
  o.width = width;
  o.height = height;
  o.lumaH = lumaH;
  o.lumaV = lumaV;
  o.quality = quality;
  return o;
}

// Offsets of marker segments FF <code> in the headers (before the entropy-coded data).
std::vector<size_t> segmentsOf(const std::vector<uint8_t>& jpeg, uint8_t code) {
  std::vector<size_t> found;
  size_t p = 2;
  while (p + 4 <= jpeg.size() && jpeg[p] == 0xFF) {
    if (jpeg[p + 1] == code) found.push_back(p);
    if (jpeg[p + 1] == 0xDA) break;
    p += 2 + (size_t(jpeg[p + 2]) << 8 | jpeg[p + 3]);
  }
  return found;
}

// Joins every segment of one kind into the first, as encoders that write all tables in one
// segment do.
std::vector<uint8_t> mergeSegments(const std::vector<uint8_t>& jpeg, uint8_t code) {
  const auto segments = segmentsOf(jpeg, code);
  std::vector<uint8_t> payload;
  for (size_t s : segments) {
    const size_t length = size_t(jpeg[s + 2]) << 8 | jpeg[s + 3];
    payload.insert(payload.end(), jpeg.begin() + ptrdiff_t(s + 4),
                   jpeg.begin() + ptrdiff_t(s + 2 + length));
  }
  std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + ptrdiff_t(segments.front()));
  out.push_back(0xFF);
  out.push_back(code);
  out.push_back(uint8_t((payload.size() + 2) >> 8));
  out.push_back(uint8_t(payload.size() + 2));
  out.insert(out.end(), payload.begin(), payload.end());
  size_t p = segments.front();
  while (p < jpeg.size()) {
    const bool isSegment = jpeg[p] == 0xFF && jpeg[p + 1] != 0xDA;
    const size_t length = size_t(jpeg[p + 2]) << 8 | jpeg[p + 3];
    if (!isSegment) break;
    if (jpeg[p + 1] != code)
      out.insert(out.end(), jpeg.begin() + ptrdiff_t(p), jpeg.begin() + ptrdiff_t(p + 2 + length));
    p += 2 + length;
  }
  out.insert(out.end(), jpeg.begin() + ptrdiff_t(p), jpeg.end());
  return out;
}

double psnrAgainstLibjpeg(const std::vector<uint8_t>& jpeg) {
  const auto ours = jpegtest::decodeFast(jpeg);
  const auto theirs = jpegsamples::decodeWithLibjpeg(jpeg.data(), jpeg.size(), false);
  double squares = 0;
  for (int y = 0; y < theirs.height; ++y)
    for (int x = 0; x < theirs.width * 3; ++x) {
      const double d = double(ours.picture[size_t(y) * ours.width * 3 + size_t(x)]) -
                       theirs.bgr[size_t(y) * size_t(theirs.width) * 3 + size_t(x)];
      squares += d * d;
    }
  const double mse = squares / (double(theirs.width) * theirs.height * 3);
  return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

TEST(JpegDecoder, RoundsThePictureSizeUpToWholeMcus) {
  const auto stream = jpegtest::decodeFast(jpegsamples::makeJpeg(layout(704, 480, 2, 1)));
  ASSERT_TRUE(stream.decoded);
  EXPECT_EQ(stream.width, 704);
  EXPECT_EQ(stream.height, 480);
  EXPECT_EQ(stream.picture.size(), 1013760u);

  const auto odd = jpegtest::decodeFast(jpegsamples::makeJpeg(layout(100, 100, 2, 2)));
  ASSERT_TRUE(odd.decoded);
  EXPECT_EQ(odd.width, 112);
  EXPECT_EQ(odd.height, 112);
  const auto wide = jpegtest::decodeFast(jpegsamples::makeJpeg(layout(100, 100, 4, 1)));
  EXPECT_EQ(wide.width, 128);
  EXPECT_EQ(wide.height, 104);
}

TEST(JpegDecoder, AgreesWithLibjpegTurboOnPhotographs) {
  for (int quality : {75, 90, 100}) {
    for (const auto& sampling : {std::pair{2, 1}, std::pair{2, 2}, std::pair{1, 1}}) {
      auto o = layout(352, 240, sampling.first, sampling.second, quality);
      EXPECT_GE(psnrAgainstLibjpeg(jpegsamples::makeJpeg(o)), 40.0)
          << "q" << quality << " " << sampling.first << "x" << sampling.second;
    }
  }
  auto grey = layout(101, 67, 1, 1, 80);
  grey.components = 1;
  EXPECT_GE(psnrAgainstLibjpeg(jpegsamples::makeJpeg(grey)), 40.0);
}

TEST(JpegDecoder, ReadsRestartMarkersAndStuffedBytes) {
  auto o = layout(160, 64, 2, 1, 95);
  o.restartInterval = 4;
  const auto jpeg = jpegsamples::makeJpeg(o);
  const size_t scan = segmentsOf(jpeg, 0xDA).front();
  int restarts = 0, stuffed = 0;
  for (size_t p = scan; p + 1 < jpeg.size(); ++p) {
    restarts += jpeg[p] == 0xFF && jpeg[p + 1] >= 0xD0 && jpeg[p + 1] <= 0xD7;
    stuffed += jpeg[p] == 0xFF && jpeg[p + 1] == 0x00;
  }
  ASSERT_EQ(restarts, (160 / 16) * (64 / 8) / 4 - 1);
  ASSERT_GT(stuffed, 0);
  // Without the restarts (predictions back to 0, bits dropped) or the stuffing the picture
  // would fall apart after the first marker.
  EXPECT_GE(psnrAgainstLibjpeg(jpeg), 40.0);
}

TEST(JpegDecoder, ReadsSeveralTablesFromOneSegment) {
  const auto jpeg = jpegsamples::makeJpeg(layout(64, 32, 2, 1, 60));
  ASSERT_EQ(segmentsOf(jpeg, 0xDB).size(), 2u);
  const auto mergedQuant = mergeSegments(jpeg, 0xDB);
  ASSERT_EQ(segmentsOf(mergedQuant, 0xDB).size(), 1u);
  const auto mergedHuffman = mergeSegments(mergedQuant, 0xC4);
  ASSERT_EQ(segmentsOf(mergedHuffman, 0xC4).size(), 1u);
  const auto separate = jpegtest::decodeFast(jpeg);
  ASSERT_TRUE(separate.decoded);
  EXPECT_EQ(jpegtest::decodeFast(mergedQuant).picture, separate.picture);
  EXPECT_EQ(jpegtest::decodeFast(mergedHuffman).picture, separate.picture);

  // Table 1 holds the second 64 values: change one and only chrominance changes.
  auto changed = mergedQuant;
  const size_t dqt = segmentsOf(changed, 0xDB).front();
  ASSERT_EQ(changed[dqt + 4 + 65], 1);  // second table's id
  changed[dqt + 4 + 65 + 1] = uint8_t(changed[dqt + 4 + 65 + 1] + 9);
  const auto other = jpegtest::decodeFast(changed);
  EXPECT_NE(other.picture, separate.picture);
}

TEST(JpegDecoder, MovesTheEndMarkerToAFourByteBoundary) {
  std::vector<uint8_t> data(101 + 3, 0x55);
  data[99] = 0xFF;
  data[100] = 0xD9;
  CJpegDecoder decoder;
  decoder.setData(data.data());
  EXPECT_FALSE(decoder.decode(101));  // no start-of-image marker
  EXPECT_EQ(data[98], 0x55);
  EXPECT_EQ(data[99], 0);
  EXPECT_EQ(data[100], 0);
  EXPECT_EQ(data[101], 0);
  EXPECT_EQ(data[102], 0xFF);
  EXPECT_EQ(data[103], 0xD9);

  // Very short data: the zeroed range starts at byte 0, and nothing outside length + 3 is
  // touched (the buffers are exactly that long).
  for (uint32_t length = 0; length < 8; ++length) {
    std::vector<uint8_t> tiny(length + 3, 0xFF);
    CJpegDecoder d;
    d.setData(tiny.data());
    EXPECT_FALSE(d.decode(length));
    const uint32_t rounded = (length + 3) / 4 * 4;
    if (rounded > length) {
      EXPECT_EQ(tiny[rounded - 1], 0xD9);
      EXPECT_EQ(tiny[rounded - 2], 0xFF);
      for (uint32_t i = length >= 2 ? length - 2 : 0; i + 2 < rounded; ++i) EXPECT_EQ(tiny[i], 0);
    }
  }

  std::vector<uint8_t> aligned(100 + 3, 0x55);
  decoder.setData(aligned.data());
  decoder.decode(100);
  EXPECT_EQ(aligned, std::vector<uint8_t>(103, 0x55));

  // A real image of every length modulo 4 still decodes, and nothing past length + 3 is touched.
  const auto jpeg = jpegsamples::makeJpeg(layout(40, 24, 2, 1));
  const auto reference = jpegtest::decodeFast(jpeg);
  for (size_t extra = 0; extra < 4; ++extra) {
    std::vector<uint8_t> padded(jpeg.begin(), jpeg.end() - 2);
    padded.insert(padded.end(), extra, 0);
    padded.push_back(0xFF);
    padded.push_back(0xD9);
    std::vector<uint8_t> buffer = padded;
    buffer.resize(padded.size() + 8, 0xA5);
    CJpegDecoder d;
    d.setData(buffer.data());
    ASSERT_TRUE(d.decode(uint32_t(padded.size())));
    EXPECT_EQ(std::vector<uint8_t>(d.picture(), d.picture() + reference.picture.size()),
              reference.picture);
    for (size_t i = padded.size() + 3; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xA5);
  }
}

TEST(JpegDecoder, GreyImagesRepeatTheSample) {
  auto o = layout(37, 21, 1, 1);
  o.components = 1;
  const auto grey = jpegtest::decodeFast(jpegsamples::makeJpeg(o));
  ASSERT_TRUE(grey.decoded);
  EXPECT_EQ(grey.width, 40);
  EXPECT_EQ(grey.height, 24);
  bool varied = false;
  for (size_t p = 0; p < grey.picture.size(); p += 3) {
    ASSERT_EQ(grey.picture[p], grey.picture[p + 1]);
    ASSERT_EQ(grey.picture[p], grey.picture[p + 2]);
    varied = varied || grey.picture[p] != grey.picture[0];
  }
  EXPECT_TRUE(varied);
}

TEST(JpegDecoder, ConvertsColoursWithoutRounding) {
  uint8_t bgr[3];
  jpeg::convertPixel(128, 128, 128, bgr);
  EXPECT_EQ(std::vector<uint8_t>(bgr, bgr + 3), (std::vector<uint8_t>{128, 128, 128}));
  jpeg::convertPixel(255, 128, 255, bgr);
  EXPECT_EQ(std::vector<uint8_t>(bgr, bgr + 3), (std::vector<uint8_t>{255, 164, 255}));
  jpeg::convertPixel(0, 0, 0, bgr);  // green (0 + 2,886,784 + 5,990,528) >> 16 = 135
  EXPECT_EQ(std::vector<uint8_t>(bgr, bgr + 3), (std::vector<uint8_t>{0, 135, 0}));
  jpeg::convertPixel(100, 129, 127, bgr);  // blue 100 + 1.77 truncated; red 100 - 1.4 floored
  EXPECT_EQ(std::vector<uint8_t>(bgr, bgr + 3), (std::vector<uint8_t>{101, 100, 98}));
}

TEST(JpegDecoder, TransformsADcOnlyBlock) {
  int16_t block[64] = {1024};
  jpeg::inverseDctRows(block);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(block[i], 362);
  for (int i = 8; i < 64; ++i) EXPECT_EQ(block[i], 0);
  jpeg::inverseDctColumns(block);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(block[i], 128);
  int16_t coefficients[64] = {1024};
  uint8_t out[64];
  jpeg::inverseDctScalar(coefficients, out, 8);
  for (uint8_t v : out) EXPECT_EQ(v, 255);
  EXPECT_EQ(coefficients[0], 0);  // left cleared for the next block
  coefficients[0] = 1024;
  jpeg::selectInverseDct()(coefficients, out, 8);
  for (uint8_t v : out) EXPECT_EQ(v, 255);
  EXPECT_EQ(coefficients[0], 0);
  EXPECT_EQ(jpeg::dcOnlySample(1024), 255);
  EXPECT_EQ(jpeg::dcOnlySample(0), 128);
  EXPECT_EQ(jpeg::dcOnlySample(-1024), 0);
  EXPECT_EQ(jpeg::dcOnlySample(8), 129);
}

// Every variant of the transform gives the scalar one's bytes, extreme coefficients included
// (where 32-bit wrap-around decides).
TEST(JpegDecoder, TransformVariantsAgreeOnAnyCoefficients) {
  uint32_t state = 99;
  auto next = [&state] {
    state = state * 1103515245u + 12345u;
    return state >> 8;
  };
  std::vector<jpeg::InverseDctFn> variants{jpeg::selectInverseDct()};
#ifdef PV_JPEG_X86
  if (__builtin_cpu_supports("avx2")) variants.push_back(jpeg::inverseDctAvx2);
  if (__builtin_cpu_supports("sse4.1")) variants.push_back(jpeg::inverseDctSse41);
#endif
  for (int round = 0; round < 4000; ++round) {
    alignas(32) int16_t coefficients[64] = {};
    const int kind = round % 4;
    for (int i = 0; i < 64; ++i) {
      if (kind == 0 && next() % 4 != 0) continue;
      const uint32_t r = next();
      coefficients[i] = kind == 1   ? int16_t(r % 2 ? 32767 : -32768)
                        : kind == 2 ? int16_t(int(r % 2048) - 1024)
                                    : int16_t(r);
    }
    // The two passes on the row-major block give the expected samples; the transforms take
    // the coefficients column by column.
    int16_t rowMajor[64];
    for (int r = 0; r < 8; ++r)
      for (int c = 0; c < 8; ++c) rowMajor[r * 8 + c] = coefficients[c * 8 + r];
    jpeg::inverseDctRows(rowMajor);
    jpeg::inverseDctColumns(rowMajor);
    uint8_t expected[64], actual[64];
    for (int i = 0; i < 64; ++i) {
      const int16_t v = int16_t(rowMajor[i] + 128);
      expected[i] = uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
    }
    alignas(32) int16_t scratch[64];
    std::copy(coefficients, coefficients + 64, scratch);
    jpeg::inverseDctScalar(scratch, actual, 8);
    ASSERT_EQ(std::vector<uint8_t>(actual, actual + 64),
              std::vector<uint8_t>(expected, expected + 64))
        << "round " << round << " scalar";
    for (size_t v = 0; v < variants.size(); ++v) {
      std::copy(coefficients, coefficients + 64, scratch);
      variants[v](scratch, actual, 8);
      ASSERT_EQ(std::vector<int16_t>(scratch, scratch + 64), std::vector<int16_t>(64, 0));
      ASSERT_EQ(std::vector<uint8_t>(actual, actual + 64),
                std::vector<uint8_t>(expected, expected + 64))
          << "round " << round << " variant " << v;
    }
  }
}

TEST(JpegDecoder, ConversionVariantsAgreeOnEverySample) {
  const int width = 256 * 3 + 5;
  std::vector<uint8_t> y(width), cb(width), cr(width);
  for (int repeat : {1, 2}) {
    for (int shift = 0; shift < 256; shift += 17) {
      for (int x = 0; x < width; ++x) {
        y[size_t(x)] = uint8_t(x + shift);
        cb[size_t(x)] = uint8_t(x * 7 + shift);
        cr[size_t(x)] = uint8_t(x * 13 + 3 * shift);
      }
      const jpeg::ColourRow row{y.data(), cb.data(), cr.data(), 1, repeat, repeat};
      std::vector<uint8_t> expected(size_t(width) * 3), actual(size_t(width) * 3);
      jpeg::convertRowScalar(row, expected.data(), width);
      std::vector<jpeg::ConvertRowFn> variants{jpeg::selectConvertRow(repeat)};
#ifdef PV_JPEG_X86
      if (__builtin_cpu_supports("ssse3")) {
        EXPECT_NE(variants[0], jpeg::convertRowScalar);
        variants.push_back(repeat == 1 ? jpeg::convertRowSsse3Full : jpeg::convertRowSsse3Half);
      }
      if (__builtin_cpu_supports("avx2"))
        variants.push_back(repeat == 1 ? jpeg::convertRowAvx2Full : jpeg::convertRowAvx2Half);
#endif
      for (const auto variant : variants) {
        std::fill(actual.begin(), actual.end(), 0);
        variant(row, actual.data(), width);
        ASSERT_EQ(actual, expected) << "repeat " << repeat << " shift " << shift;
      }
    }
  }
}

TEST(JpegDecoder, UnsupportedOrMissingImagesGiveNoPicture) {
  EXPECT_FALSE(jpegtest::decodeFast({0x00, 0x11, 0x22, 0xFF, 0xD9}).decoded);
  EXPECT_FALSE(jpegtest::decodeFast({}).decoded);
  EXPECT_FALSE(jpegtest::decodeFast({0xFF}).decoded);

  // Progressive: the frame header FF C2 is not read, so width and height stay 0.
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr jerr{};
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = 32;
  cinfo.image_height = 16;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  const auto pixels = jpegsamples::syntheticPhoto(32, 16, 3, 3);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(&pixels[size_t(cinfo.next_scanline) * 96]);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  const std::vector<uint8_t> progressive(buffer, buffer + size);
  jpeg_destroy_compress(&cinfo);
  std::free(buffer);
  const auto result = jpegtest::decodeFast(progressive);
  EXPECT_FALSE(result.decoded);
  EXPECT_EQ(result.width, 0);
  EXPECT_EQ(result.height, 0);
}

// The damaged headers the format's plain reading does not guard against.
TEST(JpegDecoder, DamagedHeadersAreRefusedOrDecodedSafely) {
  const auto good = jpegsamples::makeJpeg(layout(48, 16, 2, 1));
  const size_t sof = segmentsOf(good, 0xC0).front();
  const size_t sos = segmentsOf(good, 0xDA).front();
  const size_t dht = segmentsOf(good, 0xC4).front();
  auto refused = [](std::vector<uint8_t> jpeg, const char* what) {
    const auto result = jpegtest::decodeFast(jpeg);
    EXPECT_FALSE(result.decoded) << what;
    EXPECT_TRUE(result.picture.empty()) << what;
    EXPECT_FALSE(jpegtest::decodeReference(jpeg).decoded) << what;
  };

  auto fourComponents = good;
  fourComponents[sof + 9] = 4;
  refused(fourComponents, "four frame components");
  auto zeroSampling = good;
  zeroSampling[sof + 11] = 0x20;
  refused(zeroSampling, "sampling factor 0");
  auto twoInScan = good;
  twoInScan[sos + 4] = 2;
  refused(twoInScan, "two scan components");
  auto fourInScan = good;
  fourInScan[sos + 4] = 4;
  refused(fourInScan, "four scan components");
  auto tableFive = good;
  tableFive[sos + 6] = 0x50;
  refused(tableFive, "DC table 5");
  auto undefinedTable = good;
  undefinedTable[sos + 6] = 0x22;
  refused(undefinedTable, "undefined tables 2");
  auto unknownClass = good;
  ASSERT_EQ(unknownClass[dht + 4], 0x00);
  unknownClass[dht + 4] = 0x25;  // the luminance DC table goes nowhere: the scan lacks it
  refused(unknownClass, "DHT class 2");
  auto scanFirst = good;
  scanFirst[sof + 1] = 0xC1;  // the frame header is no longer read
  refused(scanFirst, "scan without a frame header");
  auto pastTheEnd = good;
  pastTheEnd[sos + 2] = 0xFF;  // the scan header's length runs past the data
  refused(pastTheEnd, "scan past the data");
  auto tooLarge = good;
  tooLarge[sof + 5] = 0x20;  // height 8192 + 16
  tooLarge[sof + 6] = 0x10;
  refused(tooLarge, "taller than 8192");

  // Table numbers of the quantisation tables are taken modulo 16, not refused.
  auto quantNumber = good;
  quantNumber[sof + 12] = 0x10;
  EXPECT_TRUE(jpegtest::decodeFast(quantNumber).decoded);

  // Codes longer than 16 bits: 16 codes of length 1 overflow the code space. The picture is
  // whatever the damaged table gives, and both decoders agree on it.
  auto overfull = good;
  overfull[dht + 5] = 16;
  const auto fast = jpegtest::decodeFast(overfull);
  const auto reference = jpegtest::decodeReference(overfull);
  EXPECT_EQ(fast.decoded, reference.decoded);
  EXPECT_EQ(fast.picture, reference.picture);

  // Truncated entropy-coded data: the last byte is repeated and the picture is partly right.
  auto truncated = std::vector<uint8_t>(good.begin(), good.begin() + ptrdiff_t(sos + 30));
  const auto partial = jpegtest::decodeFast(truncated);
  EXPECT_TRUE(partial.decoded);
  EXPECT_EQ(partial.picture, jpegtest::decodeReference(truncated).picture);
}

}  // namespace
