#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/display.h"
#include "video/frame_layouts.h"
#include "video/rgb565.h"

namespace {

constexpr uint16_t kSentinel = 0xA5A5;

// A picture whose every pixel differs from its neighbours, sized exactly (so reading past it is
// caught by the address sanitizer).
struct TestPicture {
  TestPicture(int w, int h) : width(w), height(h), bytes(static_cast<size_t>(w) * h * 3) {
    for (int r = 0; r < h; ++r) {
      for (int c = 0; c < w; ++c) {
        uint8_t* p = &bytes[(static_cast<size_t>(r) * w + c) * 3];
        p[0] = static_cast<uint8_t>(c * 8 + r);            // blue
        p[1] = static_cast<uint8_t>(r * 4 + c / 32 * 16);  // green
        p[2] = static_cast<uint8_t>(r / 8 * 8 + c * 3);    // red
      }
    }
  }
  BgrPicture view() const { return {bytes.data(), width, height}; }
  uint16_t at(int r, int c) const {
    return rgb565(&bytes[(static_cast<size_t>(r) * width + c) * 3]);
  }
  int width;
  int height;
  std::vector<uint8_t> bytes;
};

struct Memory {
  uint16_t at(int row, int col) const { return pixels[row * 240 + col]; }
  std::vector<uint16_t> pixels = std::vector<uint16_t>(display::kPixels, kSentinel);
};

// What a layout shows: the rows used from firstRow on (pattern 1, 2, 3: every, every second,
// every third row; 0: two of every three), every step-th column from firstColumn on.
struct Expected {
  int layout;
  bool full;
  int firstRow, firstColumn, pattern, step;
};

// The source row of the k-th row used, written out from the layout table by hand.
int sourceRow(const Expected& e, int k) {
  return e.firstRow + (e.pattern == 0 ? k + k / 2 : e.pattern * k);
}

// Blits the picture with the layout at the position its view uses; then every display pixel of
// the layout shows the source pixel the table gives, and nothing else is written.
Memory blitAndCheck(const TestPicture& picture, const Expected& e) {
  Memory memory;
  EXPECT_TRUE(blitFrameLayout(picture.view(), memory.pixels.data(), e.full ? 0 : 14,
                              e.full ? 0 : 43, e.layout));
  int mismatches = 0;
  for (int row = 0; row < 320; ++row) {
    for (int col = 0; col < 240; ++col) {
      const bool inside = e.full || (row >= 43 && row < 203 && col >= 14 && col < 228);
      const int k = e.full ? 239 - col : row - 43;  // rows used, in order
      const int n = e.full ? row : col - 14;        // columns used, in order
      const uint16_t want =
          inside ? picture.at(sourceRow(e, k), e.firstColumn + e.step * n) : kSentinel;
      if (memory.at(row, col) != want) ++mismatches;
    }
  }
  EXPECT_EQ(mismatches, 0);
  return memory;
}

TEST(FrameLayout, SelectsByPictureSizeAndView) {
  const struct {
    int width, height, full, window;
  } cases[] = {
      {704, 480, 1, 4},      {704, 576, 1, 4},      {640, 480, 2, 8},      {640, 576, 2, 8},
      {704, 240, 16, 64},    {704, 288, 16, 64},    {640, 240, 32, 128},   {640, 288, 32, 128},
      {352, 240, 256, 1024}, {352, 288, 256, 1024}, {320, 240, 512, 2048}, {320, 288, 512, 2048},
      {720, 480, -1, -1},    {704, 496, -1, -1},    {352, 480, -1, -1},    {176, 144, -1, -1},
      {0, 0, -1, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    const LayoutChoice full = selectFrameLayout(c.width, c.height, true);
    const LayoutChoice window = selectFrameLayout(c.width, c.height, false);
    EXPECT_EQ(std::make_tuple(full.layout, full.x, full.y), std::make_tuple(c.full, 0, 0));
    EXPECT_EQ(std::make_tuple(window.layout, window.x, window.y),
              c.window < 0 ? std::make_tuple(-1, 0, 0) : std::make_tuple(c.window, 14, 43));
  }
}

// Every layout against the table. The 640- and 320-wide pictures are drawn centred from their
// own size, never read past their end.
TEST(FrameLayout, EveryLayoutFollowsTheTable) {
  const struct {
    int width, height;
    Expected e;
  } cases[] = {
      {704, 480, {4, false, 0, 30, 3, 3}},    {704, 480, {1, true, 0, 32, 2, 2}},
      {704, 576, {4, false, 0, 30, 3, 3}},    {704, 576, {1, true, 0, 32, 2, 2}},  // top 480 rows
      {704, 240, {16, true, 0, 32, 1, 2}},    {704, 240, {64, false, 0, 30, 0, 3}},
      {704, 288, {16, true, 0, 32, 1, 2}},    {704, 288, {64, false, 0, 30, 0, 3}},
      {352, 240, {1024, false, 0, 69, 0, 1}}, {352, 288, {1024, false, 0, 69, 0, 1}},
      {352, 240, {256, true, 0, 16, 1, 1}},   {352, 288, {256, true, 0, 16, 1, 1}},
      {640, 480, {2, true, 0, 0, 2, 2}},      {640, 576, {2, true, 48, 0, 2, 2}},
      {640, 480, {8, false, 1, 0, 3, 3}},     {640, 576, {8, false, 49, 0, 3, 3}},
      {640, 240, {32, true, 0, 0, 1, 2}},     {640, 288, {32, true, 24, 0, 1, 2}},
      {640, 240, {128, false, 0, 0, 0, 3}},   {640, 288, {128, false, 24, 0, 0, 3}},
      {320, 240, {512, true, 0, 0, 1, 1}},    {320, 288, {512, true, 24, 0, 1, 1}},
      {320, 240, {2048, false, 0, 53, 0, 1}}, {320, 288, {2048, false, 24, 53, 0, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " layout " << c.e.layout);
    blitAndCheck(TestPicture(c.width, c.height), c.e);
  }
}

// Corner pixels worked out by hand, independently of the table above.
TEST(FrameLayout, CornersShowTheRightSourcePixels) {
  const TestPicture p704(704, 480), p352(352, 288);
  const Memory window = blitAndCheck(p704, {4, false, 0, 30, 3, 3});
  const Memory full = blitAndCheck(p704, {1, true, 0, 32, 2, 2});
  const Memory full352 = blitAndCheck(p352, {256, true, 0, 16, 1, 1});
  EXPECT_EQ(window.at(43, 14), p704.at(0, 30));
  EXPECT_EQ(window.at(202, 227), p704.at(477, 669));
  EXPECT_EQ(full.at(0, 239), p704.at(0, 32));
  EXPECT_EQ(full.at(319, 0), p704.at(478, 670));
  EXPECT_EQ(full352.at(0, 239), p352.at(0, 16));
  EXPECT_EQ(full352.at(319, 0), p352.at(239, 335));
}

TEST(FrameLayout, DrawsNothingItCannotDrawSafely) {
  const TestPicture small(352, 240), large(704, 480);
  const struct {
    BgrPicture picture;
    int x, y, layout;
  } cases[] = {
      {small.view(), 0, 0, 1},   {small.view(), 14, 43, 64},  // too small for the layout
      {large.view(), 0, 0, 3},   {large.view(), 0, 0, -1},    // no such layout
      {large.view(), 27, 43, 4}, {large.view(), 14, 161, 4},  // off the right, off the bottom
      {large.view(), -1, 43, 4}, {{nullptr, 704, 480}, 14, 43, 4},
  };
  Memory memory;
  for (const auto& c : cases) {
    EXPECT_FALSE(blitFrameLayout(c.picture, memory.pixels.data(), c.x, c.y, c.layout))
        << c.x << "," << c.y << " layout " << c.layout;
  }
  EXPECT_EQ(memory.pixels, Memory().pixels);
}

TEST(FrameLayout, ConvertsToRgb565) {
  EXPECT_EQ(rgb565(0x07, 0x03, 0x07), 0x0000);  // dropped low bits
  EXPECT_EQ(rgb565(0x08, 0x04, 0x08), 0x0821);
  // Blue, green, red and white (BGR bytes), directly and through a whole blit.
  const struct {
    uint8_t b, g, r;
    uint16_t expected;
  } colours[] = {
      {255, 0, 0, 0x001F}, {0, 255, 0, 0x07E0}, {0, 0, 255, 0xF800}, {255, 255, 255, 0xFFFF}};
  for (const auto& c : colours) {
    EXPECT_EQ(rgb565(c.b, c.g, c.r), c.expected);
    std::vector<uint8_t> bytes;
    for (int p = 0; p < 704 * 480; ++p) bytes.insert(bytes.end(), {c.b, c.g, c.r});
    Memory memory;
    ASSERT_TRUE(blitFrameLayout({bytes.data(), 704, 480}, memory.pixels.data(), 14, 43, 4));
    for (auto [row, col] : {std::pair{43, 14}, {120, 100}, {202, 227}}) {
      EXPECT_EQ(memory.at(row, col), c.expected) << row << "," << col;
    }
  }
}

}  // namespace
