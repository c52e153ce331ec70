// CJpegDecoder against the plain reference decoder, picture by picture and byte by byte, on
// JPEGs made by libjpeg-turbo with many layouts, and on damaged copies of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "jpeg_samples.h"
#include "jpeg_test_support.h"

namespace {

using jpegsamples::Options;

// Components, luminance sampling H and V: 4:2:2, 4:2:0, 4:4:4, 4:1:1 and grey.
const int kLayouts[][3] = {{3, 2, 1}, {3, 2, 2}, {3, 1, 1}, {3, 4, 1}, {1, 1, 1}};

std::string describe(const Options& o) {
  return std::to_string(o.width) + "x" + std::to_string(o.height) + " c" +
         std::to_string(o.components) + " " + std::to_string(o.lumaH) + "x" +
         std::to_string(o.lumaV) + " q" + std::to_string(o.quality) + " rst" +
         std::to_string(o.restartInterval) + (o.optimiseHuffman ? " opt" : "");
}

void expectSameAsReference(const std::vector<uint8_t>& jpeg, const std::string& what,
                           uint64_t pixelLimit = CJpegDecoder::kMaxPixels) {
  const auto fast = jpegtest::decodeFast(jpeg, pixelLimit);
  const auto reference = jpegtest::decodeReference(jpeg, pixelLimit);
  ASSERT_EQ(fast.decoded, reference.decoded) << what;
  ASSERT_EQ(fast.width, reference.width) << what;
  ASSERT_EQ(fast.height, reference.height) << what;
  ASSERT_EQ(fast.picture.size(), reference.picture.size()) << what;
  const auto difference =
      std::mismatch(fast.picture.begin(), fast.picture.end(), reference.picture.begin()).first;
  ASSERT_EQ(size_t(difference - fast.picture.begin()), fast.picture.size())
      << what << ": first differing byte";
}

TEST(JpegDifferential, StreamSizesInEveryLayout) {
  const int sizes[][2] = {{704, 480}, {704, 240}, {352, 240}};
  for (const auto& size : sizes) {
    for (const auto& layout : kLayouts) {
      const Options o{.width = size[0],
                      .height = size[1],
                      .components = layout[0],
                      .lumaH = layout[1],
                      .lumaV = layout[2],
                      .quality = 75,
                      .seed = unsigned(size[0] + layout[1])};
      const auto jpeg = jpegsamples::makeJpeg(o);
      ASSERT_TRUE(jpegtest::decodeFast(jpeg).decoded) << describe(o);
      expectSameAsReference(jpeg, describe(o));
    }
  }
}

TEST(JpegDifferential, QualitiesRestartsAndHuffmanTablesOnOddSizes) {
  const int sizes[][2] = {{101, 77}, {33, 17}, {1, 1}, {250, 3}, {17, 130}};
  unsigned seed = 7;
  for (const auto& size : sizes) {
    for (const auto& layout : kLayouts) {
      for (int quality : {30, 50, 75, 90, 100}) {
        for (int restart : {0, 1, 3}) {
          for (bool optimise : {false, true}) {
            const Options o{.width = size[0],
                            .height = size[1],
                            .components = layout[0],
                            .lumaH = layout[1],
                            .lumaV = layout[2],
                            .quality = quality,
                            .restartInterval = restart,
                            .optimiseHuffman = optimise,
                            .seed = ++seed};
            expectSameAsReference(jpegsamples::makeJpeg(o), describe(o));
          }
        }
      }
    }
  }
}

TEST(JpegDifferential, FullSizeWithRestartMarkersAndOptimisedTables) {
  for (int lumaV : {1, 2}) {
    const Options o{.width = 704,
                    .height = 480,
                    .lumaV = lumaV,
                    .quality = 90,
                    .restartInterval = 11,
                    .optimiseHuffman = true};
    expectSameAsReference(jpegsamples::makeJpeg(o), describe(o));
  }
}

// The camera photos the benchmark decodes, when they are at hand beside the repository.
TEST(JpegDifferential, RealPhotos) {
  const std::string folder = PV_SOURCE_DIR "/../shared/media/";
  int found = 0;
  for (const char* name :
       {"photo_704x480_422_q75.jpg", "photo_704x480_420_q75.jpg", "photo_352x240_422_q30.jpg"}) {
    std::ifstream in(folder + name, std::ios::binary);
    if (!in) continue;
    ++found;
    const std::vector<uint8_t> jpeg{std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>()};
    ASSERT_TRUE(jpegtest::decodeFast(jpeg).decoded) << name;
    expectSameAsReference(jpeg, name);
  }
  if (found == 0) GTEST_SKIP() << "no photos in " << folder;
}

// Damaged data: flipped bytes anywhere, bytes dropped at the end, marker-like bytes in the
// entropy-coded data. Whatever each decoder makes of it, the two must agree.
TEST(JpegDifferential, DamagedCopiesAgree) {
  std::mt19937 random(2024);
  const int layouts[][3] = {{3, 2, 1}, {3, 2, 2}, {1, 1, 1}, {3, 1, 1}};
  int round = 0;
  for (const auto& layout : layouts) {
    for (int restart : {0, 2}) {
      const Options o{.width = 48,
                      .height = 40,
                      .components = layout[0],
                      .lumaH = layout[1],
                      .lumaV = layout[2],
                      .quality = 80,
                      .restartInterval = restart};
      const auto original = jpegsamples::makeJpeg(o);
      for (int i = 0; i < 60; ++i, ++round) {
        auto jpeg = original;
        const int edits = 1 + int(random() % 4);
        for (int e = 0; e < edits; ++e) {
          const size_t at = random() % jpeg.size();
          switch (random() % 5) {
            case 0:
              jpeg[at] = uint8_t(random());
              break;
            case 1:
              jpeg[at] = 0xFF;
              break;
            case 2:
              if (at + 1 < jpeg.size()) {
                jpeg[at] = 0xFF;
                jpeg[at + 1] = uint8_t(0xD0 + random() % 16);
              }
              break;
            case 3:
              jpeg.resize(std::max<size_t>(1, jpeg.size() - random() % 64));
              break;
            default:
              jpeg[at] ^= uint8_t(1u << (random() % 8));
              break;
          }
        }
        // A damaged size can be huge: keep the pictures small.
        expectSameAsReference(jpeg, "damaged copy " + std::to_string(round) + " of " + describe(o),
                              256 * 256);
      }
    }
  }
}

}  // namespace
