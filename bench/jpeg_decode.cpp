// CJpegDecoder against libjpeg-turbo on real camera photos, decoded from memory to BGR.
//
// libjpeg-turbo runs as an application would use it: SIMD on, its default settings (accurate
// integer DCT, smooth upsampling), one decompress object reused for every frame, rows written
// into one reused picture. CJpegDecoder runs as the frame renderer uses it: a fresh decoder per
// frame, decoding in place in a copy of the received bytes. The two alternate round by round in
// one run, each timed by its thread's CPU time, so a busy neighbour on a shared machine disturbs
// both alike; the figure of merit is the median of the per-round time ratios (below 1:
// CJpegDecoder is faster).
//
// A second table compares the reduced-size true-colour decode (decodeScaled at 1/2, 1/4, 1/8)
// with libjpeg-turbo's scaled decode (scale_num / scale_denom) to the same 32-bit BGRX pixels,
// on the photos and on frames of the emulator's scene; both decoders are reused from frame to
// frame there, as a tile's decoding would use them.
//
//   bench_jpeg_decode [MEDIA_DIR] [--rounds N]
// MEDIA_DIR defaults to the shared media folder beside the repository (../shared/media); when
// it is missing the benchmark says so and exits 0.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

#include "jpeg_codec.h"
#include "picture_source.h"
#include "video/jpeg_decoder.h"

#ifndef PV_MEDIA_DIR
#define PV_MEDIA_DIR "../shared/media"
#endif

namespace {

struct Photo {
  const char* file;
  const char* label;
};
constexpr Photo kPhotos[] = {{"photo_704x480_422_q75.jpg", "704x480 4:2:2 q75"},
                             {"photo_704x480_420_q75.jpg", "704x480 4:2:0 q75"},
                             {"photo_352x240_422_q30.jpg", "352x240 4:2:2 q30"}};

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One libjpeg-turbo decompress object for the whole run. Errors end the program: the photos
// are known good.
class TurboDecoder {
 public:
  explicit TurboDecoder(bool fancyUpsampling, unsigned denominator = 1,
                        J_COLOR_SPACE colours = JCS_EXT_BGR)
      : fancy_(fancyUpsampling), denominator_(denominator), colours_(colours) {
    cinfo_.err = jpeg_std_error(&jerr_);
    jpeg_create_decompress(&cinfo_);
  }
  ~TurboDecoder() { jpeg_destroy_decompress(&cinfo_); }
  TurboDecoder(const TurboDecoder&) = delete;
  TurboDecoder& operator=(const TurboDecoder&) = delete;

  void decode(const std::vector<uint8_t>& jpeg) {
    jpeg_mem_src(&cinfo_, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&cinfo_, TRUE);
    cinfo_.out_color_space = colours_;
    cinfo_.do_fancy_upsampling = fancy_ ? TRUE : FALSE;
    cinfo_.scale_num = 1;
    cinfo_.scale_denom = denominator_;
    jpeg_start_decompress(&cinfo_);
    const size_t stride = size_t(cinfo_.output_width) * size_t(cinfo_.output_components);
    bgr_.resize(stride * cinfo_.output_height);
    while (cinfo_.output_scanline < cinfo_.output_height) {
      JSAMPROW rows[4];
      for (size_t i = 0; i < 4; ++i)
        rows[i] = bgr_.data() +
                  std::min<size_t>(cinfo_.output_scanline + i, cinfo_.output_height - 1) * stride;
      jpeg_read_scanlines(&cinfo_, rows, 4);
    }
    jpeg_finish_decompress(&cinfo_);
  }
  const std::vector<uint8_t>& picture() const { return bgr_; }

 private:
  bool fancy_;
  unsigned denominator_;
  J_COLOR_SPACE colours_;
  jpeg_decompress_struct cinfo_{};
  jpeg_error_mgr jerr_{};
  std::vector<uint8_t> bgr_;
};

// The frame as the live-stream connection holds it, with the slack the decoder may write into.
class OurDecoder {
 public:
  explicit OurDecoder(const std::vector<uint8_t>& jpeg) : jpeg_(jpeg), buffer_(jpeg.size() + 16) {}

  bool decode() {
    std::memcpy(buffer_.data(), jpeg_.data(), jpeg_.size());
    CJpegDecoder decoder;
    decoder.setData(buffer_.data());
    const bool decoded = decoder.decode(uint32_t(jpeg_.size()));
    checksum_ += decoded ? decoder.picture()[size_t(decoder.width()) * decoder.height()] : 0;
    return decoded;
  }
  unsigned checksum() const { return checksum_; }

 private:
  const std::vector<uint8_t>& jpeg_;
  std::vector<uint8_t> buffer_;
  unsigned checksum_ = 0;
};

// decodeScaled with one decoder for every frame, into 32-bit BGRX.
class OurScaledDecoder {
 public:
  OurScaledDecoder(const std::vector<uint8_t>& jpeg, int denominator)
      : jpeg_(jpeg), buffer_(jpeg.size() + 16), denominator_(denominator) {}

  bool decode() {
    std::memcpy(buffer_.data(), jpeg_.data(), jpeg_.size());
    decoder_.setData(buffer_.data());
    const bool decoded =
        decoder_.decodeScaled(uint32_t(jpeg_.size()), denominator_, jpeg::PixelFormat::Bgrx32);
    checksum_ += decoded ? decoder_.scaledPicture()[0] : 0;
    return decoded;
  }
  unsigned checksum() const { return checksum_; }

 private:
  const std::vector<uint8_t>& jpeg_;
  std::vector<uint8_t> buffer_;
  int denominator_;
  CJpegDecoder decoder_;
  unsigned checksum_ = 0;
};

// This thread's CPU time: time slices lost to other processes on a shared machine don't count.
double threadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

template <typename F>
double secondsFor(int times, F&& decodeOnce) {
  const double start = threadSeconds();
  for (int i = 0; i < times; ++i) decodeOnce();
  return (threadSeconds() - start) / times;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Result {
  double ours, turbo, ratio, ratioLow, ratioHigh;  // median times (s); ratio median, quartiles
};

// rounds alternate the two decoders (the order swapping each round); each round times a small
// batch of decodes of each.
template <typename Ours>
Result compareWith(Ours& ours, TurboDecoder& turbo, const std::vector<uint8_t>& jpeg, int rounds) {
  for (int i = 0; i < 5; ++i) ours.decode(), turbo.decode(jpeg);  // warm caches and heap
  constexpr int kBatch = 4;
  std::vector<double> oursTimes, turboTimes, ratios;
  for (int round = 0; round < rounds; ++round) {
    double a, b;
    if (round % 2 == 0) {
      a = secondsFor(kBatch, [&] { ours.decode(); });
      b = secondsFor(kBatch, [&] { turbo.decode(jpeg); });
    } else {
      b = secondsFor(kBatch, [&] { turbo.decode(jpeg); });
      a = secondsFor(kBatch, [&] { ours.decode(); });
    }
    oursTimes.push_back(a);
    turboTimes.push_back(b);
    ratios.push_back(a / b);
  }
  std::sort(ratios.begin(), ratios.end());
  return {median(oursTimes), median(turboTimes), median(ratios), ratios[ratios.size() / 4],
          ratios[ratios.size() * 3 / 4]};
}

Result compare(const std::vector<uint8_t>& jpeg, bool fancy, int rounds) {
  OurDecoder ours(jpeg);
  TurboDecoder turbo(fancy);
  return compareWith(ours, turbo, jpeg, rounds);
}

Result compareScaled(const std::vector<uint8_t>& jpeg, int denominator, int rounds) {
  OurScaledDecoder ours(jpeg, denominator);
  TurboDecoder turbo(true, unsigned(denominator), JCS_EXT_BGRX);
  return compareWith(ours, turbo, jpeg, rounds);
}

// A frame of the emulator's moving scene, as it serves it (4:2:2, quality 80).
std::vector<uint8_t> emulatorFrame(int width, int height) {
  std::string warning;
  auto source = dvremu::makePictureSource("scene", 0, width, height, &warning);
  dvremu::RgbImage image;
  image.resize(width, height);
  source->next(2.0, dvremu::PtzPosition{}, 50, image);
  std::vector<uint8_t> jpeg;
  dvremu::encodeJpeg(image, 80, &jpeg);
  return jpeg;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mediaDir = PV_MEDIA_DIR;
  int rounds = 200;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc)
      rounds = std::max(4, std::atoi(argv[++i]));
    else
      mediaDir = argv[i];
  }

  std::printf(
      "CJpegDecoder / libjpeg-turbo %d.%d (SIMD, one reused decompress object), BGR from "
      "memory,\n%d alternating rounds per photo timed in thread CPU time; median ratio "
      "(quartiles), below 1: ours is faster\n\n",
      LIBJPEG_TURBO_VERSION_NUMBER / 1000000, LIBJPEG_TURBO_VERSION_NUMBER / 1000 % 1000, rounds);
  std::printf("%-20s %10s %10s %8s %15s   %s\n", "photo", "ours us", "turbo us", "ratio",
              "quartiles", "ratio, turbo without smooth upsampling");
  int found = 0;
  for (const Photo& photo : kPhotos) {
    const std::vector<uint8_t> jpeg = readFile(mediaDir + "/" + photo.file);
    if (jpeg.empty()) {
      std::printf("%-20s missing in %s: skipped\n", photo.label, mediaDir.c_str());
      continue;
    }
    ++found;
    OurDecoder check(jpeg);
    if (!check.decode()) {
      std::printf("%-20s CJpegDecoder gives no picture\n", photo.label);
      return 1;
    }
    const Result fancy = compare(jpeg, true, rounds);
    const Result plain = compare(jpeg, false, rounds);
    std::printf("%-20s %10.1f %10.1f %8.3f   %.3f..%.3f   %.3f\n", photo.label, fancy.ours * 1e6,
                fancy.turbo * 1e6, fancy.ratio, fancy.ratioLow, fancy.ratioHigh, plain.ratio);
  }
  if (found == 0)
    std::printf("\nno photos found in %s: full-size table skipped\n", mediaDir.c_str());

  std::printf(
      "\nReduced size, 32-bit BGRX: decodeScaled / libjpeg-turbo scale_num/scale_denom (smooth "
      "upsampling,\naccurate DCT), both reused from frame to frame; median ratio (quartiles)\n\n");
  std::printf("%-24s %5s %10s %10s %8s %15s\n", "picture", "scale", "ours us", "turbo us", "ratio",
              "quartiles");
  std::vector<std::pair<std::string, std::vector<uint8_t>>> pictures;
  for (const Photo& photo : kPhotos) {
    auto jpeg = readFile(mediaDir + "/" + photo.file);
    if (!jpeg.empty()) pictures.emplace_back(photo.label, std::move(jpeg));
  }
  pictures.emplace_back("emulator 704x480 4:2:2", emulatorFrame(704, 480));
  pictures.emplace_back("emulator 352x240 4:2:2", emulatorFrame(352, 240));
  double worst[3] = {};  // the highest ratio per scale, over every picture
  for (const auto& [label, jpeg] : pictures) {
    for (int denominator : {2, 4, 8}) {
      OurScaledDecoder check(jpeg, denominator);
      if (!check.decode()) {
        std::printf("%-24s decodeScaled gives no picture\n", label.c_str());
        return 1;
      }
      const Result r = compareScaled(jpeg, denominator, rounds);
      std::printf("%-24s   1/%d %10.1f %10.1f %8.3f   %.3f..%.3f\n", label.c_str(), denominator,
                  r.ours * 1e6, r.turbo * 1e6, r.ratio, r.ratioLow, r.ratioHigh);
      double& highest = worst[denominator == 2 ? 0 : denominator == 4 ? 1 : 2];
      highest = std::max(highest, r.ratio);
    }
  }
  std::printf(
      "\nper scale, the highest median ratio over every picture: 1/2 %.3f, 1/4 %.3f, 1/8 %.3f "
      "(at most 1.0: %s)\n",
      worst[0], worst[1], worst[2],
      std::max({worst[0], worst[1], worst[2]}) <= 1.0 ? "met" : "NOT met");
  return 0;
}
