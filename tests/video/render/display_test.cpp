#include "platform/display.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/display_memory_backend.h"
#include "platform/display_qt_backend.h"
#include "platform/message_window.h"

namespace {

class DisplayTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(display.GXOpenDisplay(nullptr, 0), 0); }
  CMemoryDisplayBackend backend;
  Display display{backend};
};

TEST_F(DisplayTest, OpensA16BitDisplayOfTheFixedGeometry) {
  const GXDisplayProperties p = display.GXGetDisplayProperties();
  EXPECT_EQ(std::make_tuple(p.cxWidth, p.cyHeight, p.cBPP, p.cbxPitch, p.cbyPitch, p.ffFormat),
            std::make_tuple(240u, 320u, 16, 2, 480, display::kFormatRgb565));
  uint16_t* memory = display.GXBeginDraw();
  ASSERT_NE(memory, nullptr);
  memory[0] = 0xF800;
  memory[display::kPixels - 1] = 0x001F;
  EXPECT_EQ(display.GXEndDraw(), 1);
  EXPECT_EQ(backend.presentCount(), 1u);
  const auto copy = display.snapshot();
  EXPECT_EQ(copy[0], 0xF800);
  EXPECT_EQ(copy[display::kPixels - 1], 0x001F);

  // The memory stays where it is for the display's life, across close and reopen.
  display.GXCloseDisplay();
  EXPECT_FALSE(backend.attached());
  EXPECT_EQ(display.GXBeginDraw(), nullptr);
  ASSERT_NE(display.GXOpenDisplay(nullptr, 0), 0);
  EXPECT_EQ(display.GXBeginDraw(), memory);
  display.GXEndDraw();
}

TEST_F(DisplayTest, EndObserverSeesEachFinishedFrameWhileTheMemoryIsHeld) {
  int calls = 0;
  uint64_t presentsSeen = 0;
  uint16_t firstPixel = 0;
  display.setEndObserver([&] {
    ++calls;
    presentsSeen = backend.presentCount();
    firstPixel = display.snapshot()[0];  // the drawing thread may read its own frame
  });
  uint16_t* memory = display.GXBeginDraw();
  ASSERT_NE(memory, nullptr);
  memory[0] = 0x1234;
  display.GXEndDraw();
  EXPECT_EQ(std::make_tuple(calls, presentsSeen, firstPixel), std::make_tuple(1, 1u, 0x1234));
  EXPECT_EQ(display.GXEndDraw(), 0);  // no frame begun: nothing observed
  display.GXSuspend();
  EXPECT_EQ(display.GXBeginDraw(), nullptr);
  display.GXResume();
  EXPECT_EQ(calls, 1);
  display.setEndObserver(nullptr);
  display.GXBeginDraw();
  display.GXEndDraw();
  EXPECT_EQ(calls, 1);
}

TEST(Display, UnopenedRefusedOr24BitDisplaysAreNeverDrawn) {
  CMemoryDisplayBackend refusing, deep(24);
  refusing.setRefuseOpen(true);
  Display closed(refusing), wide(deep);
  EXPECT_EQ(closed.GXBeginDraw(), nullptr);  // not open yet
  EXPECT_EQ(closed.GXOpenDisplay(nullptr, 0), 0);
  EXPECT_FALSE(closed.isOpen());
  EXPECT_EQ(closed.GXBeginDraw(), nullptr);

  ASSERT_NE(wide.GXOpenDisplay(nullptr, 0), 0);
  EXPECT_EQ(wide.GXGetDisplayProperties().cBPP, 24);
  EXPECT_EQ(wide.GXBeginDraw(), nullptr);
  EXPECT_EQ(wide.GXEndDraw(), 0);
  EXPECT_EQ(deep.presentCount(), 0u);
}

TEST_F(DisplayTest, EndWithoutBeginAndNestedBeginsAreHarmless) {
  EXPECT_EQ(display.GXEndDraw(), 0);
  ASSERT_NE(display.GXBeginDraw(), nullptr);
  EXPECT_EQ(display.GXBeginDraw(), nullptr);  // already drawing on this thread
  // Another thread's end does not end this thread's frame.
  int otherEnd = -1;
  std::thread([&] { otherEnd = display.GXEndDraw(); }).join();
  EXPECT_EQ(otherEnd, 0);
  EXPECT_EQ(display.GXEndDraw(), 1);
  EXPECT_EQ(display.GXEndDraw(), 0);
  EXPECT_EQ(display.beginCount(), 1u);
  EXPECT_EQ(display.endCount(), 1u);
}

TEST_F(DisplayTest, SuspendWaitsForTheFrameInProgressAndStopsDrawing) {
  std::atomic<bool> begun{false};
  std::thread drawer([&] {
    uint16_t* memory = display.GXBeginDraw();
    begun = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    memory[5] = 0x07E0;
    display.GXEndDraw();
  });
  while (!begun) std::this_thread::yield();
  display.GXSuspend();
  EXPECT_EQ(display.endCount(), 1u);  // the frame finished before suspend returned
  drawer.join();
  EXPECT_EQ(display.GXBeginDraw(), nullptr);
  display.GXResume();
  EXPECT_NE(display.GXBeginDraw(), nullptr);
  display.GXEndDraw();
  EXPECT_EQ(display.snapshot()[5], 0x07E0);
}

// The live-stream thread draws flat out while the UI thread switches the display around: every
// begin that returned memory is ended, and nothing is drawn while the display is suspended.
TEST_F(DisplayTest, DrawingThreadAndUiThreadMeetSafely) {
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> drawn{0};
  std::thread drawer([&] {
    for (uint16_t value = 0; !stop;) {
      uint16_t* memory = display.GXBeginDraw();
      if (memory == nullptr) {
        std::this_thread::yield();
        continue;
      }
      for (int i = 0; i < display::kPixels; i += 97) memory[i] = value;
      ++value;
      ++drawn;
      display.GXEndDraw();
    }
  });
  for (int round = 0; round < 200; ++round) {
    display.GXSuspend();
    const uint64_t before = drawn.load();
    std::this_thread::yield();
    EXPECT_EQ(drawn.load(), before);
    display.GXResume();
    std::this_thread::sleep_for(std::chrono::microseconds(300));  // let frames through
    if (round % 10 == 0) {
      display.GXCloseDisplay();
      display.GXOpenDisplay(nullptr, 0);
    }
    (void)display.snapshot();
  }
  stop = true;
  drawer.join();
  EXPECT_EQ(display.beginCount(), display.endCount());
  EXPECT_GT(drawn.load(), 0u);
}

class QtDisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window.resize(600, 700);
    window.show();
    ASSERT_NE(display.GXOpenDisplay(&window, 0), 0);
    ASSERT_NE(backend.widget(), nullptr);
  }
  // Draws from another thread, as the live-stream thread does.
  template <typename Draw>
  void drawFromAnotherThread(int frames, Draw draw) {
    std::thread([&] {
      for (int i = 1; i <= frames; ++i) {
        draw(display.GXBeginDraw(), i);
        display.GXEndDraw();
      }
    }).join();
  }
  QWidget window;
  CQtDisplayBackend backend;
  Display display{backend};
};

TEST_F(QtDisplayTest, ShowsTheMemoryScaledWithoutSmoothing) {
  EXPECT_EQ(backend.widget()->parentWidget(), &window);
  backend.setViewport(QRect(14, 43, 214, 160), 2);
  EXPECT_EQ(backend.widget()->size(), QSize(428, 320));
  drawFromAnotherThread(1, [](uint16_t* memory, int) {
    memory[43 * 240 + 14] = 0xF800;  // red at the area's top-left pixel
    memory[43 * 240 + 15] = 0x001F;  // blue beside it
  });
  ASSERT_TRUE(
      platform::processMessagesUntil([&] { return backend.widget()->paintCount() > 0; }, 2000));
  const QImage shown = backend.widget()->grab().toImage();
  // Each display pixel is a sharp 2 x 2 square.
  for (QPoint p : {QPoint(0, 0), QPoint(1, 0), QPoint(0, 1), QPoint(1, 1)}) {
    EXPECT_EQ(shown.pixelColor(p), QColor(255, 0, 0)) << p.x() << "," << p.y();
  }
  EXPECT_EQ(shown.pixelColor(2, 0), QColor(0, 0, 255));
  EXPECT_EQ(shown.pixelColor(3, 1), QColor(0, 0, 255));
  EXPECT_EQ(shown.pixelColor(4, 0), QColor(0, 0, 0));
  display.GXCloseDisplay();
  EXPECT_EQ(backend.widget(), nullptr);
}

TEST_F(QtDisplayTest, ManyFramesBeforeARepaintQueueOneRepaint) {
  CDisplayWidget* widget = backend.widget();
  platform::processMessagesUntil([] { return false; }, 50);  // first show's paint
  const int paintsBefore = widget->paintCount();
  drawFromAnotherThread(50, [](uint16_t* memory, int i) { memory[0] = static_cast<uint16_t>(i); });
  platform::processMessagesUntil([] { return false; }, 100);
  EXPECT_EQ(widget->paintCount() - paintsBefore, 1);
  EXPECT_EQ(reinterpret_cast<const uint16_t*>(backend.front().constBits())[0], 50);
}

// A paint device that hands every image drawn on it to a function, in the middle of the paint.
class CallbackEngine final : public QPaintEngine {
 public:
  std::function<void(const QImage&)> onImage;
  bool begin(QPaintDevice*) override { return true; }
  bool end() override { return true; }
  void updateState(const QPaintEngineState&) override {}
  void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
  void drawImage(const QRectF&, const QImage& image, const QRectF&,
                 Qt::ImageConversionFlags) override {
    if (onImage) onImage(image);
  }
  Type type() const override { return QPaintEngine::User; }
};

class CallbackDevice final : public QPaintDevice {
 public:
  QPaintEngine* paintEngine() const override { return &engine; }
  mutable CallbackEngine engine;

 protected:
  int metric(PaintDeviceMetric metric) const override {
    switch (metric) {
      case PdmWidth:
        return display::kWidth;
      case PdmHeight:
        return display::kHeight;
      case PdmDepth:
        return 32;
      case PdmDpiX:
      case PdmDpiY:
      case PdmPhysicalDpiX:
      case PdmPhysicalDpiY:
        return 96;
      case PdmDevicePixelRatio:
        return 1;
      case PdmDevicePixelRatioScaled:
        return static_cast<int>(devicePixelRatioFScale());
      default:
        return 0;
    }
  }
};

TEST_F(QtDisplayTest, FramesEndWhileAPaintIsInProgressAndThePaintShowsOneWholeFrame) {
  drawFromAnotherThread(1, [](uint16_t* memory, int) { std::fill_n(memory, display::kPixels, 1); });
  CallbackDevice device;
  bool presentWaited = true;
  std::vector<uint16_t> painted;
  std::future<void> frame;  // waited for after the paint, so a blocked one cannot hang the test
  device.engine.onImage = [&](const QImage& image) {
    // The next frame ends on the drawing thread while this paint is still drawing.
    frame = std::async(std::launch::async, [&] {
      drawFromAnotherThread(
          1, [](uint16_t* memory, int) { std::fill_n(memory, display::kPixels, 2); });
    });
    presentWaited = frame.wait_for(std::chrono::seconds(2)) != std::future_status::ready;
    const auto* pixels = reinterpret_cast<const uint16_t*>(image.constBits());
    painted.assign(pixels, pixels + display::kPixels);
  };
  {
    QPainter painter(&device);
    backend.paintFront(painter, QRect(0, 0, display::kWidth, display::kHeight));
  }
  frame.wait();
  EXPECT_FALSE(presentWaited);
  ASSERT_EQ(painted.size(), static_cast<size_t>(display::kPixels));
  EXPECT_EQ(std::count(painted.begin(), painted.end(), 1), display::kPixels);
  // The frame that ended meanwhile is the newest picture, and the next paint shows it.
  EXPECT_EQ(reinterpret_cast<const uint16_t*>(backend.front().constBits())[0], 2);
  device.engine.onImage = [&](const QImage& image) {
    painted.assign(reinterpret_cast<const uint16_t*>(image.constBits()),
                   reinterpret_cast<const uint16_t*>(image.constBits()) + display::kPixels);
  };
  {
    QPainter painter(&device);
    backend.paintFront(painter, QRect(0, 0, display::kWidth, display::kHeight));
  }
  EXPECT_EQ(std::count(painted.begin(), painted.end(), 2), display::kPixels);
}

}  // namespace
