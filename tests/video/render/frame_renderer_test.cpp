#include "video/frame_renderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

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

  // Encodes the scene, draws it, and returns libjpeg-turbo's decode of the same JPEG.
  std::vector<uint8_t> drawScene(int width, int height, bool* drawn = nullptr) {
    const std::vector<uint8_t> jpeg = encodeJpeg(testScene(width, height), width, height);
    JpegFrame frame(jpeg);
    const bool result = renderer.drawJpegFrame(frame.data(), frame.length);
    if (drawn != nullptr) *drawn = result;
    int w = 0, h = 0;
    return decodeJpeg(jpeg, w, h);
  }

  CMemoryDisplayBackend backend;
  Display display{backend};
  CTestGates gates;
  CFrameRenderer renderer{display};
};

// Largest RGB565 component difference between the display and the reference picture over the
// mapped pixels. The viewer's decoder and libjpeg-turbo may round a little differently; the
// tolerance below is 1 step of a 5- or 6-bit component.
constexpr int kTolerance = 1;

struct Mapping {
  int width;
  bool full;
  int firstRow, firstColumn, rowStep, columnStep;
};

int worstDifference(const std::vector<uint16_t>& memory, const std::vector<uint8_t>& reference,
                    const Mapping& m) {
  std::vector<uint16_t> shown;
  std::vector<uint16_t> expected;
  const int rows = m.full ? 240 : 160;
  const int columns = m.full ? 320 : 214;
  for (int k = 0; k < rows; ++k) {
    for (int n = 0; n < columns; ++n) {
      const int r = m.firstRow + m.rowStep * k;
      const int c = m.firstColumn + m.columnStep * n;
      expected.push_back(rgb565(&reference[(static_cast<size_t>(r) * m.width + c) * 3]));
      shown.push_back(m.full ? memory[n * 240 + 239 - k] : memory[(43 + k) * 240 + 14 + n]);
    }
  }
  return maxComponentDifference(shown, expected);
}

int writtenOutsideWindowArea(const std::vector<uint16_t>& memory) {
  int written = 0;
  for (int row = 0; row < 320; ++row) {
    for (int col = 0; col < 240; ++col) {
      const bool inside = row >= 43 && row < 203 && col >= 14 && col < 228;
      if (!inside && memory[row * 240 + col] != kSentinel) ++written;
    }
  }
  return written;
}

TEST_F(FrameRendererTest, WindowViewOfA704x480Jpeg) {
  bool drawn = false;
  const auto reference = drawScene(704, 480, &drawn);
  EXPECT_TRUE(drawn);
  const auto memory = display.snapshot();
  EXPECT_LE(worstDifference(memory, reference, {704, false, 0, 30, 3, 3}), kTolerance);
  EXPECT_EQ(writtenOutsideWindowArea(memory), 0);
  EXPECT_EQ(display.beginCount(), 1u);
  EXPECT_EQ(display.endCount(), 1u);
}

TEST_F(FrameRendererTest, FullScreenViewOfA704x480Jpeg) {
  renderer.setFullScreen(1);
  const auto reference = drawScene(704, 480);
  EXPECT_LE(worstDifference(display.snapshot(), reference, {704, true, 0, 32, 2, 2}), kTolerance);
  // reset returns to the window view.
  EXPECT_TRUE(renderer.reset());
  EXPECT_EQ(renderer.fullScreen(), 0);
  display.fill(kSentinel);
  const auto again = drawScene(704, 480);
  EXPECT_EQ(writtenOutsideWindowArea(display.snapshot()), 0);
}

TEST_F(FrameRendererTest, OtherSizesUseTheirLayouts) {
  renderer.setFullScreen(1);
  auto reference = drawScene(704, 576);
  EXPECT_LE(worstDifference(display.snapshot(), reference, {704, true, 0, 32, 2, 2}), kTolerance);
  reference = drawScene(352, 288);
  EXPECT_LE(worstDifference(display.snapshot(), reference, {352, true, 0, 16, 1, 1}), kTolerance);
  renderer.setFullScreen(0);
  reference = drawScene(704, 240);
  EXPECT_EQ(renderer.selectLayout(704, 240).layout, 64);
}

TEST_F(FrameRendererTest, SizeWithoutLayoutDrawsNothingButEndsTheDraw) {
  bool drawn = true;
  drawScene(720, 480, &drawn);
  EXPECT_FALSE(drawn);
  EXPECT_EQ(display.beginCount(), 1u);
  EXPECT_EQ(display.endCount(), 1u);
  EXPECT_EQ(display.snapshot(), std::vector<uint16_t>(display::kPixels, kSentinel));
}

TEST_F(FrameRendererTest, FrameWithoutA01ByteIsRefusedBeforeTheDisplay) {
  std::vector<uint8_t> bytes(16 + 300 + kFrameReadSlack, 0x02);
  bytes[0] = 0x01;  // the FrameHeader's own marker does not count
  EXPECT_FALSE(renderer.drawJpegFrame(bytes.data(), 16 + 300));
  EXPECT_FALSE(renderer.drawJpegFrame(bytes.data(), 16));
  EXPECT_FALSE(renderer.drawJpegFrame(bytes.data(), 3));
  EXPECT_EQ(display.beginCount(), 0u);
}

TEST_F(FrameRendererTest, ClosedGatesConsumeFramesWithoutTouchingTheDisplay) {
  JpegFrame frame(encodeJpeg(testScene(704, 480), 704, 480));
  for (int gate = 0; gate < 3; ++gate) {
    gates.disconnect = gate == 0;
    gates.live = gate != 1;
    gates.displayOk = gate != 2;
    EXPECT_TRUE(renderer.drawJpegFrame(frame.data(), frame.length));
  }
  EXPECT_EQ(display.beginCount(), 0u);
  EXPECT_EQ(display.snapshot(), std::vector<uint16_t>(display::kPixels, kSentinel));
}

class CDisconnectMidFrame final : public IDrawGates {
 public:
  bool disconnectRequested() const override { return ++asked_ > 1; }
  bool liveReady() const override { return true; }
  bool displayReady() const override { return true; }

 private:
  mutable int asked_ = 0;
};

TEST_F(FrameRendererTest, DisconnectAfterBeginEndsTheDrawWithoutDrawing) {
  CDisconnectMidFrame midFrame;
  renderer.bind(0, &midFrame);
  JpegFrame frame(encodeJpeg(testScene(704, 480), 704, 480));
  EXPECT_TRUE(renderer.drawJpegFrame(frame.data(), frame.length));
  EXPECT_EQ(display.beginCount(), 1u);
  EXPECT_EQ(display.endCount(), 1u);
  EXPECT_EQ(display.snapshot(), std::vector<uint16_t>(display::kPixels, kSentinel));
}

TEST_F(FrameRendererTest, NoDisplayMemoryMeansNoDrawAndNoEnd) {
  display.GXSuspend();
  JpegFrame frame(encodeJpeg(testScene(704, 480), 704, 480));
  EXPECT_TRUE(renderer.drawJpegFrame(frame.data(), frame.length));
  EXPECT_EQ(display.endCount(), 0u);
  EXPECT_EQ(backend.presentCount(), 0u);
}

TEST_F(FrameRendererTest, DamagedJpegsNeverLeaveTheDisplayBegun) {
  const std::vector<uint8_t> jpeg = encodeJpeg(testScene(704, 480), 704, 480);
  for (size_t cut : {size_t{4}, size_t{200}, jpeg.size() / 2, jpeg.size() - 2}) {
    JpegFrame frame(std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + cut));
    renderer.drawJpegFrame(frame.data(), frame.length);
  }
  std::vector<uint8_t> scrambled = jpeg;
  for (size_t i = 600; i < scrambled.size(); i += 7) scrambled[i] ^= 0x5A;
  JpegFrame frame(scrambled);
  renderer.drawJpegFrame(frame.data(), frame.length);
  EXPECT_EQ(display.beginCount(), display.endCount());
  EXPECT_EQ(writtenOutsideWindowArea(display.snapshot()), 0);
}

TEST(FrameRendererBind, RefusesMissingGates) {
  CMemoryDisplayBackend backend;
  Display display(backend);
  CFrameRenderer renderer(display);
  EXPECT_FALSE(renderer.bind(0, nullptr));
  CTestGates gates;
  EXPECT_TRUE(renderer.bind(2, &gates));
  EXPECT_EQ(renderer.channelIndex(), 2);
  renderer.setFullScreen(7);
  EXPECT_EQ(renderer.fullScreen(), 1);
  EXPECT_EQ(renderer.selectLayout(352, 240).layout, 256);
}

}  // namespace
