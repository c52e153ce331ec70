// CJpegDecoder's reduced-size true-colour decode against libjpeg-turbo's scaled decode
// (scale_num / scale_denom) on the test pictures and the shared camera photos, and its safety on
// damaged data.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "jpeg_samples.h"
#include "jpeg_test_support.h"
#include "video/jpeg/scaled_idct.h"
#include "video/jpeg/true_colour.h"
#include "video/jpeg/true_colour_simd.h"
#include "video/jpeg_decoder.h"

namespace {

using jpeg::PixelFormat;
using jpegsamples::Options;

struct Picture {
  bool decoded = false;
  int width = 0, height = 0;
  std::vector<uint8_t> pixels;
};

Picture decodeScaled(const std::vector<uint8_t>& jpeg, int denominator, PixelFormat format,
                     CJpegDecoder* reused = nullptr) {
  std::vector<uint8_t> buffer = jpegtest::withSlack(jpeg);
  CJpegDecoder fresh;
  CJpegDecoder& decoder = reused != nullptr ? *reused : fresh;
  decoder.setData(buffer.data());
  Picture out;
  out.decoded = decoder.decodeScaled(uint32_t(jpeg.size()), denominator, format);
  out.width = decoder.scaledWidth();
  out.height = decoder.scaledHeight();
  if (decoder.scaledPicture() != nullptr)
    out.pixels.assign(decoder.scaledPicture(),
                      decoder.scaledPicture() +
                          size_t(out.width) * size_t(out.height) * size_t(bytesPerPixel(format)));
  return out;
}

// libjpeg-turbo with its defaults (accurate integer DCT, smooth upsampling) at 1/denominator.
Picture decodeWithLibjpeg(const std::vector<uint8_t>& jpeg, int denominator, PixelFormat format) {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr jerr{};
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = format == PixelFormat::Bgrx32 ? JCS_EXT_BGRX : JCS_RGB;
  cinfo.scale_num = 1;
  cinfo.scale_denom = unsigned(denominator);
  jpeg_start_decompress(&cinfo);
  Picture out;
  out.decoded = true;
  out.width = int(cinfo.output_width);
  out.height = int(cinfo.output_height);
  const size_t stride = size_t(out.width) * size_t(bytesPerPixel(format));
  out.pixels.resize(stride * size_t(out.height));
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = &out.pixels[size_t(cinfo.output_scanline) * stride];
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return out;
}

// PSNR over the colour bytes (the fourth byte of a 32-bit pixel is compared apart).
double psnr(const Picture& a, const Picture& b, PixelFormat format) {
  const size_t bpp = size_t(bytesPerPixel(format));
  double squares = 0;
  size_t count = 0;
  for (size_t i = 0; i < a.pixels.size(); ++i) {
    if (bpp == 4 && i % 4 == 3) continue;
    const double d = double(a.pixels[i]) - double(b.pixels[i]);
    squares += d * d;
    ++count;
  }
  const double mse = squares / double(count);
  return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

// Every scale, both formats: same size as libjpeg-turbo, at least 45 dB. Returns the lowest
// PSNR per scale.
std::array<double, 4> expectCloseToLibjpeg(const std::vector<uint8_t>& jpeg,
                                           const std::string& what) {
  std::array<double, 4> lowest{99, 99, 99, 99};
  for (int s = 0; s < 4; ++s) {
    const int denominator = 1 << s;
    for (const PixelFormat format : {PixelFormat::Bgrx32, PixelFormat::Rgb24}) {
      SCOPED_TRACE(what + " at 1/" + std::to_string(denominator) +
                   (format == PixelFormat::Bgrx32 ? " BGRX" : " RGB"));
      const Picture ours = decodeScaled(jpeg, denominator, format);
      const Picture theirs = decodeWithLibjpeg(jpeg, denominator, format);
      EXPECT_TRUE(ours.decoded);
      EXPECT_EQ(ours.width, theirs.width);
      EXPECT_EQ(ours.height, theirs.height);
      if (ours.pixels.size() != theirs.pixels.size()) continue;
      const double db = psnr(ours, theirs, format);
      EXPECT_GE(db, 45.0);
      lowest[size_t(s)] = std::min(lowest[size_t(s)], db);
      if (format == PixelFormat::Bgrx32) {
        size_t opaque = 0;
        for (size_t i = 3; i < ours.pixels.size(); i += 4) opaque += ours.pixels[i] == 0xFF;
        EXPECT_EQ(opaque, ours.pixels.size() / 4);
      }
    }
  }
  return lowest;
}

void report(const std::string& what, const std::array<double, 4>& db) {
  std::printf("[ PSNR     ] %-34s 1/1 %5.1f  1/2 %5.1f  1/4 %5.1f  1/8 %5.1f dB\n", what.c_str(),
              db[0], db[1], db[2], db[3]);
}

std::string describe(const Options& o) {
  return std::to_string(o.width) + "x" + std::to_string(o.height) + " c" +
         std::to_string(o.components) + " " + std::to_string(o.lumaH) + "x" +
         std::to_string(o.lumaV) + " q" + std::to_string(o.quality) +
         (o.restartInterval ? " rst" : "");
}

TEST(JpegScaled, MatchesLibjpegTurboOnTheTestPictures) {
  // Components, luminance sampling H and V: 4:2:2, 4:2:0, 4:4:4, 4:4:0, 4:1:1 and grey.
  const int layouts[][3] = {{3, 2, 1}, {3, 2, 2}, {3, 1, 1}, {3, 1, 2}, {3, 4, 1}, {1, 1, 1}};
  const int sizes[][2] = {{704, 480}, {352, 240}, {101, 77}, {33, 17}, {250, 3}, {1, 1}};
  unsigned seed = 3;
  for (const auto& size : sizes) {
    for (const auto& layout : layouts) {
      for (int quality : {30, 75, 95}) {
        const Options o{.width = size[0],
                        .height = size[1],
                        .components = layout[0],
                        .lumaH = layout[1],
                        .lumaV = layout[2],
                        .quality = quality,
                        .restartInterval = quality == 75 ? 2 : 0,
                        .seed = ++seed};
        const auto db = expectCloseToLibjpeg(jpegsamples::makeJpeg(o), describe(o));
        if (size[0] == 704 && quality == 75) report(describe(o), db);
      }
    }
  }
}

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The shared media folder beside the repository (or beside the folder of worktrees).
std::string mediaDir() {
  for (const char* dir : {PV_SOURCE_DIR "/../shared/media", PV_SOURCE_DIR "/../../shared/media"})
    if (std::ifstream(std::string(dir) + "/README.md")) return dir;
  return PV_SOURCE_DIR "/../shared/media";
}

TEST(JpegScaled, MatchesLibjpegTurboOnCameraPhotos) {
  int found = 0;
  for (const char* name :
       {"photo_704x480_422_q75.jpg", "photo_704x480_420_q75.jpg", "photo_352x240_422_q30.jpg"}) {
    const auto jpeg = readFile(mediaDir() + "/" + name);
    if (jpeg.empty()) continue;
    ++found;
    report(name, expectCloseToLibjpeg(jpeg, name));
  }
  if (found == 0) GTEST_SKIP() << "no photos in " << mediaDir();
}

TEST(JpegScaled, OneDecoderServesFramesOfAnySizeAndScale) {
  CJpegDecoder decoder;
  const auto big = jpegsamples::makeJpeg({.width = 176, .height = 120, .lumaH = 2, .lumaV = 2});
  const auto small = jpegsamples::makeJpeg(
      {.width = 40, .height = 24, .components = 1, .lumaH = 1, .lumaV = 1, .seed = 9});
  for (int round = 0; round < 2; ++round) {
    for (const auto* jpeg : {&big, &small}) {
      for (int denominator : {8, 1, 2}) {
        const Picture reused = decodeScaled(*jpeg, denominator, PixelFormat::Rgb24, &decoder);
        const Picture fresh = decodeScaled(*jpeg, denominator, PixelFormat::Rgb24);
        ASSERT_TRUE(reused.decoded);
        EXPECT_EQ(reused.width, fresh.width);
        EXPECT_EQ(reused.height, fresh.height);
        EXPECT_TRUE(reused.pixels == fresh.pixels) << jpeg->size() << " 1/" << denominator;
      }
    }
  }
  // Scales other than 1, 2, 4 and 8 give nothing, and nothing of the frame before is left.
  std::vector<uint8_t> buffer = jpegtest::withSlack(big);
  decoder.setData(buffer.data());
  for (int denominator : {0, 3, 16, -1}) {
    EXPECT_FALSE(decoder.decodeScaled(uint32_t(big.size()), denominator, PixelFormat::Bgrx32));
    EXPECT_EQ(decoder.scaledPicture(), nullptr);
    EXPECT_EQ(decoder.scaledWidth(), 0);
  }
}

// The vector transforms give the scalar ones' samples for coefficients a picture can have
// (sparse and dense blocks, DC and AC values up to 8 times the largest level), and leave the
// block cleared; any values, however large, give some samples and a cleared block.
TEST(JpegScaled, ReducedTransformVariantsAgree) {
  struct Variants {
    int size;
    jpeg::ScaledInverseDctFn scalar, selected;
  };
  const Variants all[] = {{4, jpeg::inverseDct4x4, jpeg::selectInverseDct4x4()},
                          {2, jpeg::inverseDct2x2, jpeg::selectInverseDct2x2()}};
  uint32_t state = 5;
  auto next = [&state] { return (state = state * 1103515245u + 12345u) >> 8; };
  for (const Variants& v : all) {
    for (int round = 0; round < 20000; ++round) {
      alignas(16) int16_t coefficients[64] = {};
      const int kind = round % 4;
      for (int i = 0; i < 64; ++i) {
        if (kind == 0 && next() % 6 != 0) continue;
        const uint32_t r = next();
        coefficients[i] = kind == 3 ? int16_t(r) : int16_t(int(r % 2048) - 1024);
      }
      // The DC extremes: 8 times the mean level of -128..127.
      if (kind == 1) coefficients[0] = int16_t(next() % 2 ? 1016 : -1024);
      alignas(16) int16_t a[64], b[64];
      std::copy(coefficients, coefficients + 64, a);
      std::copy(coefficients, coefficients + 64, b);
      uint8_t outA[32] = {}, outB[32] = {};
      v.scalar(a, outA, 8);
      v.selected(b, outB, 8);
      for (const int16_t* block : {a, b})
        ASSERT_EQ(std::vector<int16_t>(block, block + 64), std::vector<int16_t>(64, 0));
      if (kind == 3) continue;  // beyond what the passes keep in 16 bits: safe, not equal
      for (int r = 0; r < v.size; ++r)
        for (int c = 0; c < v.size; ++c)
          ASSERT_EQ(outA[r * 8 + c], outB[r * 8 + c])
              << v.size << "x" << v.size << " round " << round << " at " << r << "," << c;
    }
  }
}

TEST(JpegScaled, ColourConversionVariantsAgreeOnEverySample) {
  const jpeg::ConvertYccRowFn selected = jpeg::selectConvertYccRow();
  // Every (Cb, Cr) pair with a sweep of luminance, 35 pixels a row (a vector part and a tail).
  std::vector<uint8_t> y(35), cb(35), cr(35);
  for (int b = 0; b < 256; ++b) {
    for (int r = 0; r < 256; r += 7) {
      for (int x = 0; x < 35; ++x) {
        y[size_t(x)] = uint8_t(x * 37 + b + r);
        cb[size_t(x)] = uint8_t(b + x / 5);
        cr[size_t(x)] = uint8_t(r + x % 7);
      }
      for (const jpeg::PixelFormat format : {jpeg::PixelFormat::Bgrx32, jpeg::PixelFormat::Rgb24}) {
        std::vector<uint8_t> expected(35 * 4), actual(35 * 4);
        jpeg::convertRowYccScalar(y.data(), cb.data(), cr.data(), format, expected.data(), 35);
        selected(y.data(), cb.data(), cr.data(), format, actual.data(), 35);
        ASSERT_EQ(actual, expected) << "cb " << b << " cr " << r;
      }
    }
  }
}

// Sampling factors that don't divide the largest ones (libjpeg-turbo refuses them): the picture
// is the full decode averaged over each denominator² pixels.
TEST(JpegScaled, UnevenSamplingIsTheAveragedFullPicture) {
  auto jpeg = jpegsamples::makeJpeg({.width = 48, .height = 32, .lumaH = 2, .lumaV = 1});
  size_t sof = 2;
  while (jpeg[sof + 1] != 0xC0) sof += 2 + (size_t(jpeg[sof + 2]) << 8 | jpeg[sof + 3]);
  jpeg[sof + 14] = 0x31;  // Cb sampled 3 × 1 beside Y's 2 × 1: 2 doesn't divide 3
  const auto full = jpegtest::decodeFast(jpeg);
  ASSERT_TRUE(full.decoded);
  const Picture half = decodeScaled(jpeg, 2, PixelFormat::Rgb24);
  ASSERT_TRUE(half.decoded);
  ASSERT_EQ(half.width, 24);
  ASSERT_EQ(half.height, 16);
  for (int y = 0; y < half.height; ++y)
    for (int x = 0; x < half.width; ++x)
      for (int c = 0; c < 3; ++c) {
        int sum = 0;
        for (int dy = 0; dy < 2; ++dy)
          for (int dx = 0; dx < 2; ++dx)
            sum += full.picture[(size_t(2 * y + dy) * full.width + size_t(2 * x + dx)) * 3 +
                                size_t(2 - c)];
        ASSERT_EQ(half.pixels[(size_t(y) * 24 + size_t(x)) * 3 + size_t(c)], (sum + 2) / 4)
            << x << "," << y;
      }
}

// Damaged copies: every scale either gives no picture or a whole one, never a read or write
// outside a buffer (the sanitizers watch).
TEST(JpegScaled, DamagedDataIsSafeAtEveryScale) {
  const auto good =
      jpegsamples::makeJpeg({.width = 64, .height = 48, .lumaH = 2, .lumaV = 2, .seed = 5});
  uint32_t state = 77;
  for (int copy = 0; copy < 60; ++copy) {
    auto jpeg = good;
    const int edits = 1 + copy % 6;
    for (int e = 0; e < edits; ++e) {
      state = state * 1664525u + 1013904223u;
      jpeg[(state >> 8) % jpeg.size()] = uint8_t(state >> 24);
    }
    if (copy % 5 == 0) jpeg.resize(jpeg.size() * size_t(copy % 7 + 1) / 8);
    for (int denominator : {1, 2, 4, 8}) {
      const Picture p = decodeScaled(jpeg, denominator, PixelFormat::Bgrx32);
      if (p.decoded) {
        EXPECT_EQ(p.pixels.size(), size_t(p.width) * size_t(p.height) * 4);
      } else {
        EXPECT_TRUE(p.pixels.empty());
      }
    }
  }
}

}  // namespace
