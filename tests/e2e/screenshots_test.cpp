// Pictures of the live window: the emulator's picture in the picture area (window view and full
// screen, JPEG and MPEG-4 channels) with the status line readable over it. Each test checks the
// picture; with PV_SCREENSHOT_DIR set (tools/screenshots.sh, under Xvfb) it also saves it.
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QImage>
#include <QKeyEvent>
#include <QTemporaryDir>

#include <set>

#include "app/control_ids.h"
#include "e2e/viewer_fixture.h"

namespace e2e {
namespace {

constexpr QRect kPictureArea(14, 43, 214, 160);
constexpr QRect kStatusArea(20, 160, 200, 15);

void save(const QImage& image, const char* name) {
  const QString dir = qEnvironmentVariable("PV_SCREENSHOT_DIR");
  if (!dir.isEmpty()) image.save(dir + QLatin1Char('/') + QLatin1String(name), "PNG");
}

// Distinct colours in a rectangle: a live camera picture has many, a flat area a few.
int distinctColours(const QImage& image, const QRect& area) {
  std::set<QRgb> colours;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) colours.insert(image.pixel(x, y));
  }
  return static_cast<int>(colours.size());
}

// Light text pixels on the status line's dark band.
int lightPixels(const QImage& image, const QRect& area) {
  int light = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if (qGray(image.pixel(x, y)) > 200) ++light;
    }
  }
  return light;
}

class Screenshots : public ViewerTest {
 protected:
  void showLive(int channel) {
    start();
    connectAndWait();
    ASSERT_TRUE(showChannel(channel));
    const uint64_t before = window().display().endCount();
    ASSERT_TRUE(waitFor([&] { return window().display().endCount() > before + 5; }));
    waitFor([] { return false; }, 200);  // the repaint of the newest frame
  }

  void checkWindowView(const char* name) {
    command("notice power");
    ASSERT_TRUE(waitForStatus(address() + " Power off"));
    waitFor([] { return false; }, 200);
    const QImage shot = window().grabWindow();
    ASSERT_EQ(shot.size(), window().size());
    EXPECT_GT(distinctColours(shot, kPictureArea.adjusted(0, 0, 0, -40)), 200);
    EXPECT_GT(lightPixels(shot, kStatusArea), 40);  // the text reads over the picture
    save(shot, name);
  }

  void checkFullScreen(const char* name) {
    bool checked = false;
    onOtherDialog = [&](QDialog&) {
      waitFor([&] { return window().displayReady(); }, 8000);
      const uint64_t before = window().display().endCount();
      waitFor([&] { return window().display().endCount() > before + 5; }, 8000);
      waitFor([] { return false; }, 200);
      const QImage shot = window().grabWindow();
      EXPECT_GT(distinctColours(shot, shot.rect()), 200);
      save(shot, name);
      checked = true;
      return 0;
    };
    window().tapWindow(QPoint(120, 100));
    EXPECT_TRUE(checked);
  }
};

TEST_F(Screenshots, JpegChannelInWindowAndFullScreen) {
  showLive(0);
  checkFullScreen("live-jpeg-fullscreen.png");
  ASSERT_TRUE(waitFor([&] { return window().displayReady(); }, 8000));
  checkWindowView("live-jpeg-window.png");
}

// A snapshot (key S) is the DVR's whole picture, not the 214 x 160 view.
TEST_F(Screenshots, SnapshotIsTheWholePicture) {
  QTemporaryDir folder;
  services.captureDirectory = folder.path();
  showLive(0);
  QKeyEvent press(QEvent::KeyPress, Qt::Key_S, Qt::NoModifier);
  QCoreApplication::sendEvent(&window(), &press);
  ASSERT_TRUE(waitFor([&] { return window().statusText().startsWith("Saved "); }));
  const QStringList files = QDir(folder.path()).entryList({"*.png"}, QDir::Files);
  ASSERT_EQ(files.size(), 1);
  const QImage snapshot(folder.filePath(files.front()));
  EXPECT_EQ(snapshot.size(), QSize(704, 480));
  EXPECT_GT(distinctColours(snapshot, snapshot.rect()), 200);
  save(snapshot, "snapshot-704x480.png");
}

TEST_F(Screenshots, Mpeg4ChannelInWindowAndFullScreen) {
  emulatorArgs = {"--channel", "2:codec=mpeg4"};
  showLive(1);
  checkFullScreen("live-mpeg4-fullscreen.png");
  ASSERT_TRUE(waitFor([&] { return window().displayReady(); }, 8000));
  checkWindowView("live-mpeg4-window.png");
}

}  // namespace
}  // namespace e2e
