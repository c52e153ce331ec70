// JPEG frames made to fit RTP/JPEG: frames that fit go out untouched, frames that differ only in
// their entropy coding are re-coded to exactly the same pixels, the rest are re-encoded close to
// the picture, and damaged or hostile frames are refused without a read out of bounds.
#include <gtest/gtest.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>

#include <unistd.h>

#include <jpeglib.h>

#include "bridge/rtp_jpeg_fit.h"
#include "bridge_fixture.h"
#include "jpeg_codec.h"
#include "ptz_camera.h"
#include "synthetic_scene.h"

static void PrintTo(RtpJpegFit fit, std::ostream* os) {
  static const char* const names[] = {"Untouched", "Transcoded", "Reencoded", "Unusable"};
  *os << names[static_cast<int>(fit)];
}

namespace {

// RGB pixels, rows packed.
struct Picture {
  int width = 0, height = 0, components = 3;
  std::vector<uint8_t> pixels;
};

// A smooth scene with some edges, as a function of the position in the frame, so that the same
// view can be drawn at another size for comparison after a downscale.
Picture scene(int width, int height) {
  Picture p{width, height, 3, std::vector<uint8_t>(size_t(width) * height * 3)};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const double u = (x + 0.5) / width, v = (y + 0.5) / height;
      uint8_t* px = &p.pixels[(size_t(y) * width + x) * 3];
      const bool box = u > 0.3 && u < 0.6 && v > 0.25 && v < 0.7;
      px[0] = uint8_t(box ? 220 : 40 + 180 * u);
      px[1] = uint8_t(box ? 60 : 30 + 160 * v);
      px[2] = uint8_t(100 + 80 * std::sin(6.0 * u + 3.0 * v));
    }
  return p;
}

struct Trap {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};
[[noreturn]] void trapError(j_common_ptr info) {
  std::longjmp(reinterpret_cast<Trap*>(info->err)->jump, 1);
}
void quiet(j_common_ptr) {}

struct Options {
  J_COLOR_SPACE space = JCS_YCbCr;  // JCS_GRAYSCALE, JCS_YCbCr or JCS_CMYK
  int lumaH = 2, lumaV = 1;         // chroma is 1x1
  int quality = 85;
  bool forceBaseline = true;
  bool progressive = false, optimize = false, arithmetic = false;
  unsigned restartRows = 0;
  // Called after the encoder's parameters are set, before it starts.
  std::function<void(j_compress_ptr)> adjust;
};

// Encodes with libjpeg-turbo; empty on failure.
std::vector<uint8_t> encode(const Picture& picture, const Options& o = {}) {
  jpeg_compress_struct info{};
  Trap trap;
  info.err = jpeg_std_error(&trap.manager);
  trap.manager.error_exit = trapError;
  trap.manager.output_message = quiet;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  std::vector<uint8_t> input;  // in the encoder's input colour space
  const int comps = o.space == JCS_GRAYSCALE ? 1 : o.space == JCS_CMYK ? 4 : 3;
  for (size_t i = 0; i < picture.pixels.size(); i += 3) {
    const uint8_t r = picture.pixels[i], g = picture.pixels[i + 1], b = picture.pixels[i + 2];
    if (comps == 1) input.push_back(uint8_t((r * 77 + g * 150 + b * 29) >> 8));
    if (comps == 3) input.insert(input.end(), {r, g, b});
    if (comps == 4) input.insert(input.end(), {r, g, b, 255});  // Adobe's inverted inks, no black
  }
  if (setjmp(trap.jump) != 0) {
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return {};
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = JDIMENSION(picture.width);
  info.image_height = JDIMENSION(picture.height);
  info.input_components = comps;
  info.in_color_space = comps == 1 ? JCS_GRAYSCALE : comps == 4 ? JCS_CMYK : JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_colorspace(&info, o.space);
  jpeg_set_quality(&info, o.quality, o.forceBaseline ? TRUE : FALSE);
  if (o.space == JCS_YCbCr) {
    info.comp_info[0].h_samp_factor = o.lumaH;
    info.comp_info[0].v_samp_factor = o.lumaV;
  }
  info.optimize_coding = o.optimize ? TRUE : FALSE;
  info.arith_code = o.arithmetic ? TRUE : FALSE;
  info.restart_in_rows = int(o.restartRows);
  if (o.progressive) jpeg_simple_progression(&info);
  if (o.adjust) o.adjust(&info);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = &input[size_t(info.next_scanline) * picture.width * comps];
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::vector<uint8_t> out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

// Decodes with libjpeg-turbo to RGB (CMYK frames to CMYK); width 0 on failure.
Picture decode(const std::vector<uint8_t>& jpeg) {
  jpeg_decompress_struct info{};
  Trap trap;
  info.err = jpeg_std_error(&trap.manager);
  trap.manager.error_exit = trapError;
  trap.manager.output_message = quiet;
  Picture p;
  if (setjmp(trap.jump) != 0) {
    jpeg_destroy_decompress(&info);
    return {};
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, jpeg.data(), jpeg.size());
  jpeg_read_header(&info, TRUE);
  if (info.jpeg_color_space != JCS_CMYK) info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  p.width = int(info.output_width);
  p.height = int(info.output_height);
  p.components = info.output_components;
  p.pixels.resize(size_t(p.width) * p.height * p.components);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = &p.pixels[size_t(info.output_scanline) * p.width * p.components];
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return p;
}

double psnr(const Picture& a, const Picture& b) {
  EXPECT_EQ(a.pixels.size(), b.pixels.size());
  if (a.pixels.size() != b.pixels.size() || a.pixels.empty()) return 0;
  double sum = 0;
  for (size_t i = 0; i < a.pixels.size(); ++i) {
    const double d = double(a.pixels[i]) - b.pixels[i];
    sum += d * d;
  }
  const double mse = sum / double(a.pixels.size());
  return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

// The segments of a JPEG file with the given marker removed (up to the start of scan).
std::vector<uint8_t> withoutSegments(const std::vector<uint8_t>& jpeg, uint8_t marker) {
  std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
  size_t pos = 2;
  while (pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF) {
    const size_t length = size_t(jpeg[pos + 2]) << 8 | jpeg[pos + 3];
    if (jpeg[pos + 1] == 0xDA) break;
    if (jpeg[pos + 1] != marker)
      out.insert(out.end(), jpeg.begin() + long(pos), jpeg.begin() + long(pos + 2 + length));
    pos += 2 + length;
  }
  out.insert(out.end(), jpeg.begin() + long(pos), jpeg.end());
  return out;
}

// The offset of the first segment with the given marker, or 0.
size_t findSegment(const std::vector<uint8_t>& jpeg, uint8_t marker) {
  size_t pos = 2;
  while (pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF) {
    if (jpeg[pos + 1] == marker) return pos;
    if (jpeg[pos + 1] == 0xDA) break;
    pos += 2 + (size_t(jpeg[pos + 2]) << 8 | jpeg[pos + 3]);
  }
  return 0;
}

// Rewrites every 8-bit quantisation table as a 16-bit one with the same steps.
std::vector<uint8_t> widenQuantTables(const std::vector<uint8_t>& jpeg) {
  std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
  size_t pos = 2;
  while (pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF && jpeg[pos + 1] != 0xDA) {
    const size_t length = size_t(jpeg[pos + 2]) << 8 | jpeg[pos + 3];
    if (jpeg[pos + 1] != 0xDB) {
      out.insert(out.end(), jpeg.begin() + long(pos), jpeg.begin() + long(pos + 2 + length));
    } else {
      std::vector<uint8_t> body;
      for (size_t t = pos + 4; t + 65 <= pos + 2 + length; t += 65) {
        body.push_back(uint8_t(0x10 | jpeg[t]));
        for (size_t i = 0; i < 64; ++i) body.insert(body.end(), {0, jpeg[t + 1 + i]});
      }
      out.insert(out.end(),
                 {0xFF, 0xDB, uint8_t((body.size() + 2) >> 8), uint8_t(body.size() + 2)});
      out.insert(out.end(), body.begin(), body.end());
    }
    pos += 2 + length;
  }
  out.insert(out.end(), jpeg.begin() + long(pos), jpeg.end());
  return out;
}

bool fits(const std::vector<uint8_t>& jpeg, std::string* reason = nullptr) {
  return fitsRtpJpeg(jpeg.data(), jpeg.size(), reason);
}

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string mediaDir() {
  for (const char* dir : {PV_SOURCE_DIR "/../shared/media", PV_SOURCE_DIR "/../../shared/media"})
    if (std::ifstream(std::string(dir) + "/README.md")) return dir;
  return PV_SOURCE_DIR "/../shared/media";
}

// Every frame size and a few qualities the emulator serves, as its channels code them.
std::vector<std::pair<std::string, std::vector<uint8_t>>> emulatorFrames() {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> frames;
  const int sizes[][2] = {{704, 480}, {704, 576}, {704, 240}, {704, 288}, {352, 240}, {352, 288}};
  for (const auto& size : sizes)
    for (int quality : {30, 80, 100}) {
      dvremu::SyntheticScene synthetic(1, size[0], size[1]);
      dvremu::RgbImage image;
      image.resize(size[0], size[1]);
      synthetic.render(1.5, dvremu::PtzPosition{}, 7, image);
      std::vector<uint8_t> jpeg;
      EXPECT_TRUE(dvremu::encodeJpeg(image, quality, &jpeg));
      frames.emplace_back(
          std::to_string(size[0]) + "x" + std::to_string(size[1]) + " q" + std::to_string(quality),
          std::move(jpeg));
    }
  return frames;
}

TEST(RtpJpegFit, FramesThatFitPassUntouched) {
  CRtpJpegFitter fitter;
  for (const auto& [name, jpeg] : emulatorFrames()) {
    std::string reason;
    EXPECT_TRUE(fits(jpeg, &reason)) << name << ": " << reason;
    const RtpJpegFitResult r = fitter.fit(jpeg.data(), jpeg.size());
    EXPECT_EQ(r.fit, RtpJpegFit::Untouched) << name << ": " << r.reason;
    EXPECT_TRUE(r.jpeg.empty() && r.reason.empty()) << name;
  }
  // 4:2:0, and sides that are no multiple of the block size (a receiver shows the padding of
  // the last blocks, as any re-coding would).
  for (const auto& [w, h, lumaV] : {std::tuple{640, 480, 2}, {100, 75, 2}, {2040, 16, 1}}) {
    Options o;
    o.lumaV = lumaV;
    const auto jpeg = encode(scene(w, h), o);
    const RtpJpegFitResult r = fitter.fit(jpeg.data(), jpeg.size());
    EXPECT_EQ(r.fit, RtpJpegFit::Untouched) << w << "x" << h << ": " << r.reason;
  }
}

TEST(RtpJpegFit, EntropyCodingIsRecodedToTheSamePixels) {
  const Picture picture = scene(176, 144);
  const auto baseline = encode(picture);
  ASSERT_TRUE(fits(baseline));
  struct Case {
    const char* name;
    std::vector<uint8_t> jpeg;
    const char* reason;
  };
  Options progressive, optimised, restarts, arithmetic, separateChroma, progressive420;
  progressive.progressive = true;
  optimised.optimize = true;
  restarts.restartRows = 2;
  arithmetic.arithmetic = true;
  progressive420.progressive = true;
  progressive420.lumaV = 2;
  // Cr quantised with a table of its own that holds the same steps as Cb's.
  separateChroma.adjust = [](j_compress_ptr info) {
    info->quant_tbl_ptrs[2] = jpeg_alloc_quant_table(reinterpret_cast<j_common_ptr>(info));
    *info->quant_tbl_ptrs[2] = *info->quant_tbl_ptrs[1];
    info->comp_info[2].quant_tbl_no = 2;
  };
  // 4:2:2 written with every vertical factor doubled, as some encoders do.
  Options doubledVertical;
  doubledVertical.lumaV = 2;
  doubledVertical.adjust = [](j_compress_ptr info) {
    info->comp_info[1].v_samp_factor = info->comp_info[2].v_samp_factor = 2;
  };
  auto noEoi = baseline;
  noEoi.resize(noEoi.size() - 2);
  const Case cases[] = {
      {"progressive", encode(picture, progressive), "progressive"},
      {"progressive 4:2:0", encode(picture, progressive420), "progressive"},
      {"optimised Huffman tables", encode(picture, optimised), "custom Huffman"},
      {"restart interval", encode(picture, restarts), "restart interval"},
      {"arithmetic coding", encode(picture, arithmetic), "arithmetic"},
      {"no DHT", withoutSegments(baseline, 0xC4), "no Huffman tables"},
      {"16-bit tables of 8-bit steps", widenQuantTables(baseline), "16-bit"},
      {"Cr with a table of its own", encode(picture, separateChroma), "Cb and Cr"},
      {"no end-of-image marker", noEoi, "end-of-image"},
      {"4:2:2 as 2x2, 1x2, 1x2", encode(picture, doubledVertical), "sampling 2x2,1x2,1x2"},
  };
  CRtpJpegFitter fitter;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.jpeg.empty());
    std::string reason;
    EXPECT_FALSE(fits(c.jpeg, &reason));
    EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    const RtpJpegFitResult r = fitter.fit(c.jpeg.data(), c.jpeg.size());
    ASSERT_EQ(r.fit, RtpJpegFit::Transcoded) << r.reason;
    EXPECT_EQ(r.reason, reason);
    EXPECT_TRUE(fits(r.jpeg, &reason)) << reason;
    const Picture in = decode(c.jpeg), out = decode(r.jpeg);
    ASSERT_GT(in.width, 0);
    EXPECT_EQ(out.width, in.width);
    EXPECT_EQ(out.height, in.height);
    EXPECT_TRUE(out.pixels == in.pixels);
  }
}

TEST(RtpJpegFit, WhatCannotBeRecodedIsReencodedCloseToThePicture) {
  const Picture picture = scene(200, 120);
  Options s444, gray, s440, cmyk, coarse, differentChroma;
  s444.lumaH = 1;
  s444.progressive = true;
  gray.space = JCS_GRAYSCALE;
  s440.lumaH = 1;
  s440.lumaV = 2;
  cmyk.space = JCS_CMYK;
  cmyk.quality = 95;
  // Quality 3 without the 8-bit limit: steps over 255 in 16-bit tables.
  coarse.quality = 3;
  coarse.forceBaseline = false;
  differentChroma.adjust = [](j_compress_ptr info) {
    unsigned steps[64];
    for (unsigned& s : steps) s = 4;
    jpeg_add_quant_table(info, 2, steps, 100, TRUE);
    info->comp_info[2].quant_tbl_no = 2;
  };
  struct Case {
    const char* name;
    Options options;
    const char* reason;
    double minPsnr;  // against the picture the source frame decodes to
  };
  const Case cases[] = {
      {"4:4:4 progressive", s444, "progressive", 30},
      {"4:4:0", s440, "", 30},
      {"grayscale", gray, "grayscale", 34},
      {"CMYK", cmyk, "4 components", 30},
      {"16-bit tables of coarse steps", coarse, "not baseline", 24},
      {"Cb and Cr quantised differently", differentChroma, "Cb and Cr", 30},
  };
  CRtpJpegFitter fitter;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto jpeg = encode(picture, c.options);
    ASSERT_FALSE(jpeg.empty());
    const RtpJpegFitResult r = fitter.fit(jpeg.data(), jpeg.size());
    ASSERT_EQ(r.fit, RtpJpegFit::Reencoded) << r.reason;
    EXPECT_NE(r.reason.find(c.reason), std::string::npos) << r.reason;
    std::string reason;
    EXPECT_TRUE(fits(r.jpeg, &reason)) << reason;
    Picture source = decode(jpeg);
    if (c.options.space == JCS_CMYK) {  // inverted inks, no black: the inks are R, G, B
      Picture rgb{source.width, source.height, 3, {}};
      for (size_t i = 0; i < source.pixels.size(); i += 4)
        rgb.pixels.insert(rgb.pixels.end(), source.pixels.begin() + long(i),
                          source.pixels.begin() + long(i) + 3);
      source = rgb;
    }
    const Picture out = decode(r.jpeg);
    ASSERT_EQ(out.width, picture.width);
    ASSERT_EQ(out.height, picture.height);
    EXPECT_GT(psnr(out, source), c.minPsnr);
  }
}

// An 8 x 8 grayscale frame of 12-bit samples, every sample 3000 of 4095: one block whose DC
// difference is 7616 (category 13, beyond the standard tables, so the frame brings its own).
std::vector<uint8_t> twelveBitFrame() {
  std::vector<uint8_t> f = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00};
  f.insert(f.end(), 64, 1);  // every step 1
  const uint8_t tail[] = {
      0xFF, 0xC1, 0x00, 0x0B, 12, 0, 8, 0, 8, 1, 1, 0x11, 0,  // SOF1: 12-bit, 8 x 8, gray
      0xFF, 0xC4, 0x00, 0x14, 0x00, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 13,  // DC: '0'
      0xFF, 0xC4, 0x00, 0x14, 0x10, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,   // AC: EOB
      0xFF, 0xDA, 0x00, 0x08, 1, 1, 0x00, 0, 63, 0, 0x77, 0x01,  // '0', 1110111000000 (7616),
                                                                 // '0' (end of block), padding
      0xFF, 0xD9};
  f.insert(f.end(), std::begin(tail), std::end(tail));
  return f;
}

TEST(RtpJpegFit, TwelveBitSamplesAreReencodedThroughTheOtherDecoder) {
  const auto jpeg = twelveBitFrame();
  std::string reason;
  EXPECT_FALSE(fits(jpeg, &reason));
  CRtpJpegFitter fitter;
  const RtpJpegFitResult r = fitter.fit(jpeg.data(), jpeg.size());
  ASSERT_EQ(r.fit, RtpJpegFit::Reencoded) << r.reason;
  EXPECT_TRUE(fits(r.jpeg, &reason)) << reason;
  const Picture out = decode(r.jpeg);
  ASSERT_EQ(out.width, 8);
  ASSERT_EQ(out.height, 8);
  for (uint8_t v : out.pixels) EXPECT_NEAR(v, 3000 / 16, 2);
  // The same frame cut short is still refused.
  const std::vector<uint8_t> cut(jpeg.begin(), jpeg.end() - 4);
  EXPECT_EQ(fitter.fit(cut.data(), cut.size()).fit, RtpJpegFit::Unusable);
}

TEST(RtpJpegFit, SidesOverTheLimitAreScaledDownKeepingTheAspect) {
  CRtpJpegFitter fitter;
  for (const auto& [w, h, wantW, wantH] :
       {std::tuple{2100, 200, 2040, 194}, {300, 4100, 149, 2040}, {2041, 64, 2040, 64}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    const auto jpeg = encode(scene(w, h));
    std::string reason;
    EXPECT_FALSE(fits(jpeg, &reason));
    EXPECT_NE(reason.find("over 2040"), std::string::npos) << reason;
    const RtpJpegFitResult r = fitter.fit(jpeg.data(), jpeg.size());
    ASSERT_EQ(r.fit, RtpJpegFit::Reencoded) << r.reason;
    EXPECT_TRUE(fits(r.jpeg, &reason)) << reason;
    const Picture out = decode(r.jpeg);
    ASSERT_EQ(out.width, wantW);
    ASSERT_EQ(out.height, wantH);
    // The same view drawn at the smaller size.
    EXPECT_GT(psnr(out, scene(wantW, wantH)), 30);
  }
}

TEST(RtpJpegFit, EmulatorFramesAndCameraPhotosComeOutFitting) {
  auto frames = emulatorFrames();
  int photos = 0;
  for (const char* name :
       {"photo_704x480_422_q75.jpg", "photo_704x480_420_q75.jpg", "photo_352x240_422_q30.jpg"}) {
    auto jpeg = readFile(mediaDir() + "/" + name);
    if (jpeg.empty()) continue;
    ++photos;
    frames.emplace_back(name, std::move(jpeg));
  }
  if (photos == 0)
    std::printf("note: no camera photos in %s, emulator frames only\n", mediaDir().c_str());
  CRtpJpegFitter fitter;
  for (const auto& [name, jpeg] : frames) {
    const RtpJpegFitResult r = fitter.fit(jpeg.data(), jpeg.size());
    ASSERT_NE(r.fit, RtpJpegFit::Unusable) << name << ": " << r.reason;
    EXPECT_TRUE(r.fit == RtpJpegFit::Untouched ? fits(jpeg) : fits(r.jpeg)) << name;
  }
}

TEST(RtpJpegFit, DamagedAndHostileFramesAreUnusable) {
  const auto baseline = encode(scene(160, 128));
  std::mt19937 random(7);
  std::vector<uint8_t> noise(4000);
  for (uint8_t& b : noise) b = uint8_t(random());
  auto truncated = baseline;
  truncated.resize(baseline.size() * 6 / 10);
  auto headerOnly = baseline;
  headerOnly.resize(findSegment(baseline, 0xDA) + 14);
  // A progressive frame that claims to be 60000 x 60000 pixels: refused before decoding.
  Options progressive;
  progressive.progressive = true;
  auto huge = encode(scene(64, 64), progressive);
  const size_t sof = findSegment(huge, 0xC2);
  ASSERT_NE(sof, 0u);
  huge[sof + 5] = huge[sof + 7] = 0xEA;
  huge[sof + 6] = huge[sof + 8] = 0x60;
  // A restart marker out of sequence.
  Options restarts;
  restarts.restartRows = 1;
  auto badRestart = encode(scene(160, 128), restarts);
  const size_t scan = findSegment(badRestart, 0xDA);
  for (size_t i = scan + 14; i + 1 < badRestart.size(); ++i)
    if (badRestart[i] == 0xFF && badRestart[i + 1] == 0xD1) {
      badRestart[i + 1] = 0xD5;
      break;
    }

  struct Case {
    const char* name;
    std::vector<uint8_t> jpeg;
    const char* reason;
  };
  const Case cases[] = {
      {"empty", {}, "not a JPEG"},
      {"noise", noise, "not a JPEG"},
      {"start of image only", {0xFF, 0xD8}, "not a JPEG"},
      {"start and end of image", {0xFF, 0xD8, 0xFF, 0xD9}, "no scan"},
      {"truncated", truncated, ""},
      {"header only", headerOnly, ""},
      {"declared size too large", huge, "too large"},
      {"restart marker out of sequence", badRestart, "Corrupt"},
  };
  CRtpJpegFitter fitter;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const RtpJpegFitResult r = fitter.fit(c.jpeg.data(), c.jpeg.size());
    EXPECT_EQ(r.fit, RtpJpegFit::Unusable) << r.reason;
    EXPECT_TRUE(r.jpeg.empty());
    EXPECT_FALSE(r.reason.empty());
    EXPECT_NE(r.reason.find(c.reason), std::string::npos) << r.reason;
  }
  EXPECT_EQ(fitter.fit(nullptr, 0).fit, RtpJpegFit::Unusable);

  // Every truncation of a fitting frame is refused or made to fit, never read past its end
  // (under the address sanitizer).
  for (size_t length = 0; length < baseline.size(); length += 7) {
    const std::vector<uint8_t> cut(baseline.begin(), baseline.begin() + long(length));
    const RtpJpegFitResult r = fitter.fit(cut.data(), cut.size());
    if (r.fit != RtpJpegFit::Unusable) {
      EXPECT_TRUE(fits(r.jpeg)) << length;
    }
  }
}

TEST(RtpJpegFit, OneFitterServesFrameAfterFrameWhateverWentBefore) {
  const Picture picture = scene(96, 64);
  Options progressive, s444;
  progressive.progressive = true;
  s444.lumaH = 1;
  const auto a = encode(picture, progressive), b = encode(picture, s444);
  CRtpJpegFitter fresh;
  const RtpJpegFitResult wantA = fresh.fit(a.data(), a.size());
  const RtpJpegFitResult wantB = fresh.fit(b.data(), b.size());
  CRtpJpegFitter reused;
  const std::vector<uint8_t> broken(b.begin(), b.begin() + long(b.size() / 2));
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(reused.fit(broken.data(), broken.size()).fit, RtpJpegFit::Unusable);
    const RtpJpegFitResult gotA = reused.fit(a.data(), a.size());
    EXPECT_EQ(gotA.fit, RtpJpegFit::Transcoded);
    EXPECT_TRUE(gotA.jpeg == wantA.jpeg);
    const RtpJpegFitResult gotB = reused.fit(b.data(), b.size());
    EXPECT_EQ(gotB.fit, RtpJpegFit::Reencoded);
    EXPECT_TRUE(gotB.jpeg == wantB.jpeg);
  }
}

TEST(RtpJpegFit, TheMemoryLimitRefusesLargePicturesBeforeDecoding) {
  Options progressive;
  progressive.progressive = true;
  const auto jpeg = encode(scene(1024, 512), progressive);
  CRtpJpegFitter fitter;
  fitter.setMemoryLimit(size_t{8} << 20);
  const RtpJpegFitResult refused = fitter.fit(jpeg.data(), jpeg.size());
  EXPECT_EQ(refused.fit, RtpJpegFit::Unusable);
  EXPECT_NE(refused.reason.find("too large"), std::string::npos) << refused.reason;
  fitter.setMemoryLimit(size_t{64} << 20);
  EXPECT_EQ(fitter.fit(jpeg.data(), jpeg.size()).fit, RtpJpegFit::Transcoded);
}

// The payloader the RTSP server uses, and its depayloader, carry every fitted frame: the picture
// after the round trip is exactly the picture of the fitted frame decoded directly.
TEST(RtpJpegFit, FittedFramesCrossGStreamersPayloaderUnchanged) {
  if (!haveProgram("gst-launch-1.0")) GTEST_SKIP() << "GStreamer's gst-launch-1.0 is not installed";
  const Picture picture = scene(160, 96);
  Options progressive, doubledVertical, s444;
  progressive.progressive = true;
  doubledVertical.lumaV = 2;
  doubledVertical.adjust = [](j_compress_ptr info) {
    info->comp_info[1].v_samp_factor = info->comp_info[2].v_samp_factor = 2;
  };
  s444.lumaH = 1;
  const std::pair<const char*, std::vector<uint8_t>> frames[] = {
      {"4:2:2 baseline", encode(picture)},
      {"progressive", encode(picture, progressive)},
      {"4:2:2 as 2x2, 1x2, 1x2", encode(picture, doubledVertical)},
      {"4:4:4", encode(picture, s444)}};
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("pv_rtp_jpeg_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto decodeWith = [&](const std::string& middle, const std::string& output) {
    const std::string jpeg = (dir / "frame.jpg").string();
    return runCommand("gst-launch-1.0 -q filesrc location=" + jpeg + " ! jpegparse ! " + middle +
                      "jpegdec ! videoconvert ! video/x-raw,format=RGB ! filesink location=" +
                      (dir / output).string());
  };
  CRtpJpegFitter fitter;
  for (const auto& [name, jpeg] : frames) {
    SCOPED_TRACE(name);
    const RtpJpegFitResult r = fitter.fit(jpeg.data(), jpeg.size());
    ASSERT_NE(r.fit, RtpJpegFit::Unusable) << r.reason;
    const std::vector<uint8_t>& sent = r.fit == RtpJpegFit::Untouched ? jpeg : r.jpeg;
    std::ofstream(dir / "frame.jpg", std::ios::binary)
        .write(reinterpret_cast<const char*>(sent.data()), std::streamsize(sent.size()));
    const CommandResult direct = decodeWith("", "direct.rgb");
    ASSERT_EQ(direct.status, 0) << direct.output;
    const CommandResult carried = decodeWith("rtpjpegpay ! rtpjpegdepay ! ", "carried.rgb");
    ASSERT_EQ(carried.status, 0) << carried.output;
    const auto want = readFile((dir / "direct.rgb").string());
    EXPECT_EQ(want.size(), size_t(160 * 96 * 3));
    EXPECT_TRUE(readFile((dir / "carried.rgb").string()) == want);
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
