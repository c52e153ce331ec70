#include "video/frame_renderer.h"

#include <gtest/gtest.h>

#include "platform/display.h"
#include "platform/display_memory_backend.h"
#include "test_jpeg.h"
#include "video/codec/mpeg4_stream.h"
#include "video/rgb565.h"

using namespace testing_video;

namespace {

constexpr uint16_t kSentinel = 0xA5A5;

class FrameRendererTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(display.GXOpenDisplay(nullptr, 0), 0);
    display.fill(kSentinel);
    ASSERT_TRUE(renderer.bind(0, &gates));
  }
  bool draw(const std::vector<uint8_t>& jpeg) {
    JpegFrame frame(jpeg);
    return renderer.drawJpegFrame(frame.data(), frame.length);
  }
  bool untouched() {
    return display.snapshot() == std::vector<uint16_t>(display::kPixels, kSentinel);
  }

  CMemoryDisplayBackend backend;
  Display display{backend};
  CTestGates gates;
  CFrameRenderer renderer{display};
  const std::vector<uint8_t> jpeg704x480 = encodeJpeg(testScene(704, 480), 704, 480);
};

// The picture's rows and columns a view shows, in order.
struct Mapping {
  int firstRow, firstColumn, rowStep, columnStep;
};

// Largest RGB565 component difference between the display and libjpeg-turbo's decode of the same
// JPEG over the mapped pixels.
int worstDifference(const std::vector<uint16_t>& memory, const std::vector<uint8_t>& jpeg,
                    bool full, const Mapping& m) {
  int width = 0, height = 0;
  const std::vector<uint8_t> reference = decodeJpeg(jpeg, width, height);
  std::vector<uint16_t> expected;
  for (int k = 0; k < (full ? 240 : 160); ++k) {
    for (int n = 0; n < (full ? 320 : 214); ++n) {
      const size_t at = static_cast<size_t>(m.firstRow + m.rowStep * k) * width + m.firstColumn +
                        m.columnStep * n;
      expected.push_back(rgb565(&reference[at * 3]));
    }
  }
  const auto shown = shownPicture(memory, full);
  return maxComponentDifference(shown, expected);
}

// The viewer's decoder and libjpeg-turbo may round a little differently: the tolerance is 1 step
// of a 5- or 6-bit component. The window view writes nothing outside its area; reset returns to
// the window view; every frame begins and ends one draw.
TEST_F(FrameRendererTest, DrawsJpegsInBothViews) {
  const struct {
    int width, height;
    bool full;
    Mapping mapping;
  } cases[] = {
      {704, 480, true, {0, 32, 2, 2}},
      {704, 576, true, {0, 32, 2, 2}},  // its top 480 rows
      {352, 288, true, {0, 16, 1, 1}},
      {704, 480, false, {0, 30, 3, 3}},
  };
  uint64_t frames = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << (c.full ? " full" : ""));
    if (c.full) {
      renderer.setFullScreen(1);
    } else {
      EXPECT_TRUE(renderer.reset());
      EXPECT_EQ(renderer.fullScreen(), 0);
    }
    display.fill(kSentinel);
    const std::vector<uint8_t> jpeg = encodeJpeg(testScene(c.width, c.height), c.width, c.height);
    EXPECT_TRUE(draw(jpeg));
    EXPECT_LE(worstDifference(display.snapshot(), jpeg, c.full, c.mapping), 1);
    if (!c.full) {
      EXPECT_EQ(writtenOutsideWindowArea(display.snapshot(), kSentinel), 0);
    }
    EXPECT_EQ(display.beginCount(), ++frames);
    EXPECT_EQ(display.endCount(), frames);
  }
}

TEST_F(FrameRendererTest, SizeWithoutLayoutDrawsNothingButEndsTheDraw) {
  EXPECT_FALSE(draw(encodeJpeg(testScene(720, 480), 720, 480)));
  EXPECT_EQ(display.beginCount(), 1u);
  EXPECT_EQ(display.endCount(), 1u);
  EXPECT_TRUE(untouched());
}

TEST_F(FrameRendererTest, FrameWithoutA01ByteIsRefusedBeforeTheDisplay) {
  std::vector<uint8_t> bytes(16 + 300 + kFrameReadSlack, 0x02);
  bytes[0] = 0x01;  // the FrameHeader's own marker does not count
  for (uint32_t length : {16u + 300u, 16u, 3u})
    EXPECT_FALSE(renderer.drawJpegFrame(bytes.data(), length));
  EXPECT_EQ(display.beginCount(), 0u);
}

// Each gate alone consumes the frame before any display access; no display memory (suspended)
// means no draw and no end.
TEST_F(FrameRendererTest, ClosedGatesOrNoMemoryConsumeFramesWithoutDrawing) {
  for (int gate = 0; gate < 3; ++gate) {
    gates.closeOnly(gate);
    EXPECT_TRUE(draw(jpeg704x480));
  }
  EXPECT_EQ(display.beginCount(), 0u);
  EXPECT_TRUE(untouched());
  gates.closeOnly(-1);
  display.GXSuspend();
  EXPECT_TRUE(draw(jpeg704x480));
  EXPECT_EQ(display.endCount(), 0u);
  EXPECT_EQ(backend.presentCount(), 0u);
  EXPECT_TRUE(untouched());
}

TEST_F(FrameRendererTest, DisconnectAfterBeginEndsTheDrawWithoutDrawing) {
  CDisconnectMidFrame midFrame;
  renderer.bind(0, &midFrame);
  EXPECT_TRUE(draw(jpeg704x480));
  EXPECT_EQ(display.beginCount(), 1u);
  EXPECT_EQ(display.endCount(), 1u);
  EXPECT_TRUE(untouched());
}

TEST_F(FrameRendererTest, DamagedJpegsNeverLeaveTheDisplayBegun) {
  const std::vector<uint8_t>& jpeg = jpeg704x480;
  for (size_t cut : {size_t{4}, size_t{200}, jpeg.size() / 2, jpeg.size() - 2}) {
    draw(std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(cut)));
  }
  std::vector<uint8_t> scrambled = jpeg;
  for (size_t i = 600; i < scrambled.size(); i += 7) scrambled[i] ^= 0x5A;
  draw(scrambled);
  EXPECT_EQ(display.beginCount(), display.endCount());
  EXPECT_EQ(writtenOutsideWindowArea(display.snapshot(), kSentinel), 0);
}

TEST_F(FrameRendererTest, BindNeedsGatesAndLayoutsFollowTheView) {
  CFrameRenderer other(display);
  EXPECT_FALSE(other.bind(0, nullptr));
  EXPECT_TRUE(other.bind(2, &gates));
  EXPECT_EQ(other.channelIndex(), 2);
  EXPECT_EQ(other.selectLayout(704, 240).layout, 64);
  other.setFullScreen(7);
  EXPECT_EQ(other.fullScreen(), 1);
  EXPECT_EQ(other.selectLayout(352, 240).layout, 256);
}

}  // namespace
