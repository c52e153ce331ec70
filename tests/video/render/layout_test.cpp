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
  Memory() : pixels(display::kPixels, kSentinel) {}
  uint16_t at(int row, int col) const { return pixels[row * 240 + col]; }
  std::vector<uint16_t> pixels;
};

// The source row of the k-th row used, written out from the layout table by hand.
int sourceRow(int first, int pattern, int k) {
  switch (pattern) {
    case 1:
      return first + k;
    case 2:
      return first + 2 * k;
    case 3:
      return first + 3 * k;
    default:  // two of every three
      return first + k + k / 2;
  }
}

struct Expected {
  int layout;
  bool full;
  int firstRow, firstColumn, pattern, step;
};

// Every display pixel of the layout shows the source pixel the table gives; nothing else is
// written.
void expectLayout(const TestPicture& picture, const Memory& memory, const Expected& e) {
  int mismatches = 0;
  if (e.full) {
    for (int k = 0; k < 240; ++k) {
      for (int n = 0; n < 320; ++n) {
        const int r = sourceRow(e.firstRow, e.pattern, k);
        const int c = e.firstColumn + e.step * n;
        if (memory.at(n, 239 - k) != picture.at(r, c)) ++mismatches;
      }
    }
  } else {
    for (int row = 0; row < 320; ++row) {
      for (int col = 0; col < 240; ++col) {
        const bool inside = row >= 43 && row < 203 && col >= 14 && col < 228;
        if (!inside) {
          if (memory.at(row, col) != kSentinel) ++mismatches;
          continue;
        }
        const int r = sourceRow(e.firstRow, e.pattern, row - 43);
        const int c = e.firstColumn + e.step * (col - 14);
        if (memory.at(row, col) != picture.at(r, c)) ++mismatches;
      }
    }
  }
  EXPECT_EQ(mismatches, 0) << "layout " << e.layout;
}

TEST(FrameLayout, SelectsByPictureSizeAndView) {
  struct Case {
    int width, height, full, window;
  };
  const Case cases[] = {
      {704, 480, 1, 4},      {704, 576, 1, 4},      {640, 480, 2, 8},      {640, 576, 2, 8},
      {704, 240, 16, 64},    {704, 288, 16, 64},    {640, 240, 32, 128},   {640, 288, 32, 128},
      {352, 240, 256, 1024}, {352, 288, 256, 1024}, {320, 240, 512, 2048}, {320, 288, 512, 2048},
  };
  for (const Case& c : cases) {
    const LayoutChoice full = selectFrameLayout(c.width, c.height, true);
    EXPECT_EQ(full.layout, c.full) << c.width << "x" << c.height;
    EXPECT_EQ(full.x, 0);
    EXPECT_EQ(full.y, 0);
    const LayoutChoice window = selectFrameLayout(c.width, c.height, false);
    EXPECT_EQ(window.layout, c.window) << c.width << "x" << c.height;
    EXPECT_EQ(window.x, 14);
    EXPECT_EQ(window.y, 43);
  }
  for (auto [w, h] : {std::pair{720, 480}, {704, 496}, {352, 480}, {176, 144}, {0, 0}}) {
    for (bool full : {true, false}) {
      const LayoutChoice none = selectFrameLayout(w, h, full);
      EXPECT_EQ(none.layout, -1);
      EXPECT_EQ(none.x, 0);
      EXPECT_EQ(none.y, 0);
    }
  }
}

TEST(FrameLayout, WindowViewOf704x480ReducesToAThirdFromColumn30) {
  TestPicture picture(704, 480);
  Memory memory;
  ASSERT_TRUE(blitFrameLayout(picture.view(), memory.pixels.data(), 14, 43, 4));
  EXPECT_EQ(memory.at(43, 14), picture.at(0, 30));
  EXPECT_EQ(memory.at(202, 227), picture.at(477, 669));
  expectLayout(picture, memory, {4, false, 0, 30, 3, 3});
}

TEST(FrameLayout, FullScreenOf704x480IsHalvedAndTurnedClockwise) {
  TestPicture picture(704, 480);
  Memory memory;
  ASSERT_TRUE(blitFrameLayout(picture.view(), memory.pixels.data(), 0, 0, 1));
  EXPECT_EQ(memory.at(0, 239), picture.at(0, 32));
  EXPECT_EQ(memory.at(319, 0), picture.at(478, 670));
  expectLayout(picture, memory, {1, true, 0, 32, 2, 2});
}

TEST(FrameLayout, FullScreenOf704x576ShowsItsTop480Rows) {
  TestPicture picture(704, 576);
  Memory memory;
  ASSERT_TRUE(blitFrameLayout(picture.view(), memory.pixels.data(), 0, 0, 1));
  expectLayout(picture, memory, {1, true, 0, 32, 2, 2});
}

TEST(FrameLayout, FullScreenOf352x288ShowsRows0To239) {
  TestPicture picture(352, 288);
  Memory memory;
  ASSERT_TRUE(blitFrameLayout(picture.view(), memory.pixels.data(), 0, 0, 256));
  EXPECT_EQ(memory.at(0, 239), picture.at(0, 16));
  EXPECT_EQ(memory.at(319, 0), picture.at(239, 335));
  expectLayout(picture, memory, {256, true, 0, 16, 1, 1});
}

TEST(FrameLayout, HalfHeightAndNarrowLayoutsFollowTheTable) {
  const struct {
    int width, height;
    Expected e;
  } cases[] = {
      {704, 240, {16, true, 0, 32, 1, 2}},    {704, 240, {64, false, 0, 30, 0, 3}},
      {704, 288, {16, true, 0, 32, 1, 2}},    {704, 288, {64, false, 0, 30, 0, 3}},
      {352, 240, {1024, false, 0, 69, 0, 1}}, {352, 288, {1024, false, 0, 69, 0, 1}},
      {352, 240, {256, true, 0, 16, 1, 1}},
  };
  for (const auto& c : cases) {
    TestPicture picture(c.width, c.height);
    Memory memory;
    ASSERT_TRUE(blitFrameLayout(picture.view(), memory.pixels.data(), 14, 43, c.e.layout));
    expectLayout(picture, memory, c.e);
  }
}

// 640- and 320-wide pictures are drawn centred from their own size, never read past their end.
TEST(FrameLayout, NarrowerPicturesAreCentredInsideThemselves) {
  const struct {
    int width, height;
    Expected e;
  } cases[] = {
      {640, 480, {2, true, 0, 0, 2, 2}},      {640, 576, {2, true, 48, 0, 2, 2}},
      {640, 480, {8, false, 1, 0, 3, 3}},     {640, 576, {8, false, 49, 0, 3, 3}},
      {640, 240, {32, true, 0, 0, 1, 2}},     {640, 288, {32, true, 24, 0, 1, 2}},
      {640, 240, {128, false, 0, 0, 0, 3}},   {640, 288, {128, false, 24, 0, 0, 3}},
      {320, 240, {512, true, 0, 0, 1, 1}},    {320, 288, {512, true, 24, 0, 1, 1}},
      {320, 240, {2048, false, 0, 53, 0, 1}}, {320, 288, {2048, false, 24, 53, 0, 1}},
  };
  for (const auto& c : cases) {
    TestPicture picture(c.width, c.height);
    Memory memory;
    ASSERT_TRUE(blitFrameLayout(picture.view(), memory.pixels.data(), 14, 43, c.e.layout))
        << c.e.layout;
    expectLayout(picture, memory, c.e);
  }
}

TEST(FrameLayout, DrawsNothingItCannotDrawSafely) {
  TestPicture small(352, 240);
  TestPicture large(704, 480);
  Memory memory;
  EXPECT_FALSE(blitFrameLayout(small.view(), memory.pixels.data(), 0, 0, 1));     // too small
  EXPECT_FALSE(blitFrameLayout(small.view(), memory.pixels.data(), 14, 43, 64));  // too small
  EXPECT_FALSE(blitFrameLayout(large.view(), memory.pixels.data(), 0, 0, 3));     // no layout
  EXPECT_FALSE(blitFrameLayout(large.view(), memory.pixels.data(), 0, 0, -1));
  EXPECT_FALSE(blitFrameLayout(large.view(), memory.pixels.data(), 27, 43, 4));   // off the right
  EXPECT_FALSE(blitFrameLayout(large.view(), memory.pixels.data(), 14, 161, 4));  // off the bottom
  EXPECT_FALSE(blitFrameLayout(large.view(), memory.pixels.data(), -1, 43, 4));
  EXPECT_FALSE(blitFrameLayout({nullptr, 704, 480}, memory.pixels.data(), 14, 43, 4));
  EXPECT_EQ(memory.pixels, std::vector<uint16_t>(display::kPixels, kSentinel));
}

TEST(FrameLayout, ConvertsToRgb565) {
  EXPECT_EQ(rgb565(255, 0, 0), 0x001F);  // blue
  EXPECT_EQ(rgb565(0, 255, 0), 0x07E0);  // green
  EXPECT_EQ(rgb565(0, 0, 255), 0xF800);  // red
  EXPECT_EQ(rgb565(255, 255, 255), 0xFFFF);
  EXPECT_EQ(rgb565(0x07, 0x03, 0x07), 0x0000);  // dropped low bits
  EXPECT_EQ(rgb565(0x08, 0x04, 0x08), 0x0821);

  // Through a whole blit: each colour fills the picture area.
  const uint8_t colours[][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
  const uint16_t expected[] = {0x001F, 0x07E0, 0xF800, 0xFFFF};
  for (int i = 0; i < 4; ++i) {
    std::vector<uint8_t> bytes(704 * 480 * 3);
    for (size_t p = 0; p < bytes.size(); p += 3) {
      bytes[p] = colours[i][0];
      bytes[p + 1] = colours[i][1];
      bytes[p + 2] = colours[i][2];
    }
    Memory memory;
    ASSERT_TRUE(blitFrameLayout({bytes.data(), 704, 480}, memory.pixels.data(), 14, 43, 4));
    EXPECT_EQ(memory.at(43, 14), expected[i]);
    EXPECT_EQ(memory.at(120, 100), expected[i]);
    EXPECT_EQ(memory.at(202, 227), expected[i]);
  }
}

}  // namespace
