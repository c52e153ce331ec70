// CJpegDecoder's observable behaviour: picture sizes, the alignment step, the marker segments it
// reads, its arithmetic, its agreement with libjpeg-turbo and its handling of damaged input.
#include "video/jpeg_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <tuple>

#include "jpeg_samples.h"
#include "jpeg_test_support.h"
#include "video/jpeg/colour_convert.h"
#include "video/jpeg/colour_convert_simd.h"
#include "video/jpeg/idct.h"
#include "video/jpeg/idct_simd.h"

namespace {

using jpegsamples::Options;

Options layout(int width, int height, int lumaH, int lumaV, int quality = 75, int components = 3) {
  return {.width = width,
          .height = height,
          .components = components,
          .lumaH = lumaH,
          .lumaV = lumaV,
          .quality = quality};
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

// Joins every header segment of one kind into one placed right after the start-of-image marker,
// as encoders that write all tables in one segment do.
std::vector<uint8_t> mergeSegments(const std::vector<uint8_t>& jpeg, uint8_t code) {
  std::vector<uint8_t> payload, others;
  size_t p = 2;
  for (size_t end; jpeg[p + 1] != 0xDA; p = end) {
    end = p + 2 + (size_t(jpeg[p + 2]) << 8 | jpeg[p + 3]);
    auto& to = jpeg[p + 1] == code ? payload : others;
    to.insert(to.end(), jpeg.begin() + ptrdiff_t(&to == &payload ? p + 4 : p),
              jpeg.begin() + ptrdiff_t(end));
  }
  std::vector<uint8_t> out{
      0xFF, 0xD8, 0xFF, code, uint8_t((payload.size() + 2) >> 8), uint8_t(payload.size() + 2)};
  out.insert(out.end(), payload.begin(), payload.end());
  out.insert(out.end(), others.begin(), others.end());
  out.insert(out.end(), jpeg.begin() + ptrdiff_t(p), jpeg.end());
  return out;
}

double psnrAgainstLibjpeg(const std::vector<uint8_t>& jpeg) {
  const auto ours = jpegtest::decodeFast(jpeg);
  const auto theirs = jpegsamples::decodeWithLibjpeg(jpeg.data(), jpeg.size(), false);
  double squares = 0;
  for (int y = 0; y < theirs.height; ++y)
    for (int x = 0; x < theirs.width * 3; ++x)
      squares += std::pow(double(ours.picture[size_t(y) * ours.width * 3 + size_t(x)]) -
                              theirs.bgr[size_t(y) * size_t(theirs.width) * 3 + size_t(x)],
                          2);
  const double mse = squares / (double(theirs.width) * theirs.height * 3);
  return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

TEST(JpegDecoder, RoundsThePictureSizeUpToWholeMcus) {
  // width, height, luminance sampling H × V, decoded width, height and picture bytes
  const int cases[][7] = {{704, 480, 2, 1, 704, 480, 1013760},
                          {100, 100, 2, 2, 112, 112, 112 * 112 * 3},
                          {100, 100, 4, 1, 128, 104, 128 * 104 * 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c[0] << "x" << c[1] << " sampled " << c[2] << "x" << c[3]);
    const auto d = jpegtest::decodeFast(jpegsamples::makeJpeg(layout(c[0], c[1], c[2], c[3])));
    ASSERT_TRUE(d.decoded);
    EXPECT_EQ(d.width, c[4]);
    EXPECT_EQ(d.height, c[5]);
    EXPECT_EQ(d.picture.size(), size_t(c[6]));
  }
}

TEST(JpegDecoder, AgreesWithLibjpegTurboOnPhotographs) {
  for (int quality : {75, 90, 100})
    for (const auto& [h, v] : {std::pair{2, 1}, std::pair{2, 2}, std::pair{1, 1}})
      EXPECT_GE(psnrAgainstLibjpeg(jpegsamples::makeJpeg(layout(352, 240, h, v, quality))), 40.0)
          << "q" << quality << " " << h << "x" << v;
  EXPECT_GE(psnrAgainstLibjpeg(jpegsamples::makeJpeg(layout(101, 67, 1, 1, 80, 1))), 40.0);
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
  EXPECT_NE(jpegtest::decodeFast(changed).picture, separate.picture);
}

TEST(JpegDecoder, MovesTheEndMarkerToAFourByteBoundary) {
  // From length - 2 (or byte 0) up to the next multiple of 4 the bytes are zeroed and FF D9 is
  // written at its end; nothing else of the length + 3 bytes is touched (the buffers are exactly
  // that long), and an aligned length leaves them all alone.
  for (uint32_t length : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 100u, 101u}) {
    std::vector<uint8_t> data(length + 3, 0x55);
    if (length >= 2) data[length - 2] = 0xFF, data[length - 1] = 0xD9;
    auto expected = data;
    const uint32_t rounded = (length + 3) / 4 * 4;
    if (rounded > length) {
      std::fill(expected.begin() + (length >= 2 ? length - 2 : 0), expected.begin() + rounded - 2,
                0);
      expected[rounded - 2] = 0xFF, expected[rounded - 1] = 0xD9;
    }
    CJpegDecoder decoder;
    decoder.setData(data.data());
    EXPECT_FALSE(decoder.decode(length)) << length;  // no start-of-image marker
    EXPECT_EQ(data, expected) << length;
  }

  // A real image of every length modulo 4 still decodes, and nothing past length + 3 is touched.
  const auto jpeg = jpegsamples::makeJpeg(layout(40, 24, 2, 1));
  const auto reference = jpegtest::decodeFast(jpeg);
  for (size_t extra = 0; extra < 4; ++extra) {
    std::vector<uint8_t> buffer(jpeg.begin(), jpeg.end() - 2);
    buffer.insert(buffer.end(), extra, 0);
    buffer.insert(buffer.end(), {0xFF, 0xD9});
    const size_t length = buffer.size();
    buffer.resize(length + 8, 0xA5);
    CJpegDecoder decoder;
    decoder.setData(buffer.data());
    ASSERT_TRUE(decoder.decode(uint32_t(length)));
    EXPECT_EQ(std::vector<uint8_t>(decoder.picture(), decoder.picture() + reference.picture.size()),
              reference.picture);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + ptrdiff_t(length + 3), buffer.end()),
              std::vector<uint8_t>(5, 0xA5));
  }
}

TEST(JpegDecoder, GreyImagesRepeatTheSample) {
  const auto grey = jpegtest::decodeFast(jpegsamples::makeJpeg(layout(37, 21, 1, 1, 75, 1)));
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
  // Y, Cb, Cr, then the expected blue, green, red.
  const int cases[][6] = {{128, 128, 128, 128, 128, 128},
                          {255, 128, 255, 255, 164, 255},
                          {0, 0, 0, 0, 135, 0},  // green (0 + 2,886,784 + 5,990,528) >> 16
                          {100, 129, 127, 101, 100, 98}};  // blue 100 + 1.77 truncated; red
                                                           // 100 - 1.4 floored
  for (const auto& c : cases) {
    uint8_t bgr[3];
    jpeg::convertPixel(c[0], c[1], c[2], bgr);
    EXPECT_EQ(std::vector<int>(bgr, bgr + 3), std::vector<int>(c + 3, c + 6))
        << c[0] << " " << c[1] << " " << c[2];
  }
}

TEST(JpegDecoder, TransformsADcOnlyBlock) {
  int16_t block[64] = {1024};
  jpeg::inverseDctRows(block);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(block[i], i < 8 ? 362 : 0);
  jpeg::inverseDctColumns(block);
  for (int16_t v : block) EXPECT_EQ(v, 128);
  for (const jpeg::InverseDctFn transform : {&jpeg::inverseDctScalar, jpeg::selectInverseDct()}) {
    alignas(32) int16_t coefficients[64] = {1024};
    uint8_t out[64];
    transform(coefficients, out, 8);
    for (uint8_t v : out) EXPECT_EQ(v, 255);
    EXPECT_EQ(coefficients[0], 0);  // left cleared for the next block
  }
  for (const auto& [dc, sample] : {std::pair{1024, 255}, {0, 128}, {-1024, 0}, {8, 129}})
    EXPECT_EQ(jpeg::dcOnlySample(int16_t(dc)), sample);
}

// Every variant of the transform gives the scalar one's bytes, extreme coefficients included
// (where 32-bit wrap-around decides).
TEST(JpegDecoder, TransformVariantsAgreeOnAnyCoefficients) {
  std::vector<jpeg::InverseDctFn> variants{&jpeg::inverseDctScalar, jpeg::selectInverseDct()};
#ifdef PV_JPEG_X86
  if (__builtin_cpu_supports("avx2")) variants.push_back(jpeg::inverseDctAvx2);
  if (__builtin_cpu_supports("sse4.1")) variants.push_back(jpeg::inverseDctSse41);
#endif
  uint32_t state = 99;
  auto next = [&state] { return (state = state * 1103515245u + 12345u) >> 8; };
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
    for (int i = 0; i < 64; ++i) rowMajor[i] = coefficients[i % 8 * 8 + i / 8];
    jpeg::inverseDctRows(rowMajor);
    jpeg::inverseDctColumns(rowMajor);
    std::vector<uint8_t> expected(64);
    for (int i = 0; i < 64; ++i)
      expected[size_t(i)] = uint8_t(std::clamp(int(int16_t(rowMajor[i] + 128)), 0, 255));
    for (size_t v = 0; v < variants.size(); ++v) {
      alignas(32) int16_t scratch[64];
      uint8_t actual[64];
      std::copy(coefficients, coefficients + 64, scratch);
      variants[v](scratch, actual, 8);
      ASSERT_EQ(std::vector<int16_t>(scratch, scratch + 64), std::vector<int16_t>(64, 0));
      ASSERT_EQ(std::vector<uint8_t>(actual, actual + 64), expected)
          << "round " << round << " variant " << v;
    }
  }
}

TEST(JpegDecoder, ConversionVariantsAgreeOnEverySample) {
  // Widths with a tail of 5 pixels after groups of 32, and with a group of 16 and 6 more.
  for (const int width : {256 * 3 + 5, 256 * 3 + 22}) {
    std::vector<uint8_t> y(static_cast<size_t>(width)), cb(y.size()), cr(y.size());
    for (int repeat : {1, 2}) {
      for (int shift = 0; shift < 256; shift += 17) {
        for (int x = 0; x < width; ++x) {
          y[size_t(x)] = uint8_t(x + shift);
          cb[size_t(x)] = uint8_t(x * 7 + shift);
          cr[size_t(x)] = uint8_t(x * 13 + 3 * shift);
        }
        const jpeg::ColourRow row{y.data(), cb.data(), cr.data(), 1, repeat, repeat};
        std::vector<uint8_t> expected(size_t(width) * 3);
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
          std::vector<uint8_t> actual(expected.size(), 0);
          variant(row, actual.data(), width);
          ASSERT_EQ(actual, expected)
              << "width " << width << " repeat " << repeat << " shift " << shift;
        }
      }
    }
  }
}

TEST(JpegDecoder, UnsupportedOrMissingImagesGiveNoPicture) {
  for (const auto& data : {std::vector<uint8_t>{0x00, 0x11, 0x22, 0xFF, 0xD9}, {}, {0xFF}})
    EXPECT_FALSE(jpegtest::decodeFast(data).decoded);

  // Progressive: the frame header FF C2 is not read, so width and height stay 0.
  auto o = layout(32, 16, 2, 2);
  o.progressive = true;
  const auto progressive = jpegsamples::makeJpeg(o);
  ASSERT_EQ(segmentsOf(progressive, 0xC2).size(), 1u);
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
  ASSERT_EQ(good[dht + 4], 0x00);  // the luminance DC table comes first
  ASSERT_EQ(good[sof + 6], 16);    // height 16
  auto edited = [&good](size_t at, uint8_t value) {
    auto jpeg = good;
    jpeg[at] = value;
    return jpeg;
  };
  const std::tuple<size_t, uint8_t, const char*> refusals[] = {
      {sof + 9, 4, "four frame components"},
      {sof + 11, 0x20, "vertical sampling factor 0 in a component the scan uses"},
      {sos + 4, 2, "two scan components"},
      {sos + 4, 4, "four scan components"},
      {sos + 6, 0x50, "DC table 5"},
      {sos + 6, 0x22, "undefined tables 2"},
      {dht + 4, 0x25, "DHT class 2: the luminance DC table goes nowhere, the scan lacks it"},
      {sof + 1, 0xC1, "the frame header is no longer read: scan without a frame header"},
      {sos + 2, 0xFF, "the scan header's length runs past the data"},
  };
  for (const auto& [at, value, what] : refusals) {
    SCOPED_TRACE(what);
    const auto jpeg = edited(at, value);
    const auto result = jpegtest::decodeFast(jpeg);
    EXPECT_FALSE(result.decoded);
    EXPECT_TRUE(result.picture.empty());
    EXPECT_FALSE(jpegtest::decodeReference(jpeg).decoded);
  }

  // Table numbers of the quantisation tables are taken modulo 16, not refused.
  EXPECT_TRUE(jpegtest::decodeFast(edited(sof + 12, 0x10)).decoded);

  // Codes longer than 16 bits: 16 codes of length 1 overflow the code space. The picture is
  // whatever the damaged table gives, and both decoders agree on it.
  const auto overfull = edited(dht + 5, 16);
  const auto fast = jpegtest::decodeFast(overfull);
  const auto reference = jpegtest::decodeReference(overfull);
  EXPECT_EQ(fast.decoded, reference.decoded);
  EXPECT_EQ(fast.picture, reference.picture);

  // Truncated entropy-coded data: the last byte is repeated and the picture is partly right.
  const std::vector<uint8_t> truncated(good.begin(), good.begin() + ptrdiff_t(sos + 30));
  const auto partial = jpegtest::decodeFast(truncated);
  EXPECT_TRUE(partial.decoded);
  EXPECT_EQ(partial.picture, jpegtest::decodeReference(truncated).picture);
}

}  // namespace
