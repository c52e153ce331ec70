// Saves pictures of both dialogs and of the skin controls in their states to the folder named by
// PV_SCREENSHOT_DIR (tools/screenshots.sh runs this under Xvfb). Skipped when it is not set.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPainter>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "book_fixture.h"
#include "ui/address_book_dlg.h"
#include "ui/channel_button.h"
#include "ui/connect_dlg.h"
#include "ui/control_id.h"
#include "ui/hover_button.h"
#include "ui/skin_artwork.h"
#include "ui/skin_slider.h"

namespace {

// The main window's face: the background picture with the controls at their places.
class SkinPreview : public QWidget {
 public:
  SkinPreview() { setFixedSize(skin::kBackgroundWidth, skin::kBackgroundHeight); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.drawImage(0, 0, skin::bitmap(skin::kBackground));
    painter.setPen(QColor(0x73, 0x73, 0x73));
    QFont font("Arial");
    font.setPixelSize(11);
    painter.setFont(font);
    painter.drawText(QRect(40, 2, 67, 11), Qt::AlignCenter, "10.0.0.7");
  }
};

class Screenshots : public BookFixture {
 protected:
  void SetUp() override {
    directory_ = qEnvironmentVariable("PV_SCREENSHOT_DIR");
    if (directory_.isEmpty()) GTEST_SKIP() << "PV_SCREENSHOT_DIR is not set";
    BookFixture::SetUp();
    ASSERT_TRUE(QDir().mkpath(directory_));
    setBook(recordBytes("10.0.0.7", "9000", "admin") + recordBytes("10.0.0.5", "9000", "admin") +
            recordBytes("dvr-lobby.local", "8000", "viewer") +
            recordBytes("10.0.0.7", "9000", "admin"));
  }

  void save(QWidget& widget, const QString& name) {
    widget.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
    QTest::qWait(50);
    ASSERT_TRUE(widget.grab().save(QDir(directory_).filePath(name)));
  }

  QString directory_;
};

TEST_F(Screenshots, ConnectDialog) {
  CConnectDlg dialog;
  dialog.show();
  QTest::keyClicks(findControl<QLineEdit>(&dialog, CConnectDlg::kPasswordId), "secret");
  save(dialog, "connect-dialog.png");
}

TEST_F(Screenshots, AddressBookDialog) {
  CAddressBookDlg dialog;
  dialog.show();
  auto* list = findControl<QTreeWidget>(&dialog, CAddressBookDlg::kListId);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    list->visualItemRect(list->topLevelItem(1)).center());
  save(dialog, "address-book-dialog.png");
}

// The main window's controls where the window puts them, in a typical moment: connected, channel 3
// shown, channels 7..16 unavailable, audio on, camera panel up with "up" latched and preset 2
// active.
TEST_F(Screenshots, SkinInUse) {
  SkinPreview window;
  std::vector<std::unique_ptr<QWidget>> controls;
  const auto hover = [&](int x, int y, int a, int b, int c, int d, int state) {
    auto button = std::make_unique<CHoverButton>(&window);
    button->move(x, y);
    button->loadImages(a, b, c, d);
    button->setState(state);
    controls.push_back(std::move(button));
  };
  hover(13, 3, 137, 138, 138, 0, 0);   // Disconnect (Connect hidden while connected)
  hover(111, 3, 142, 143, 143, 0, 0);  // address book
  hover(159, 3, 144, 145, 145, 0, 0);  // audio off (audio is on)
  hover(3 + 13 * 2, 181, 150, 150, 150, 0, 0);
  const int bigIds[4][4] = {
      {195, 196, 198, 197}, {191, 192, 194, 193}, {159, 160, 162, 161}, {155, 156, 158, 157}};
  for (int i = 0; i < 4; ++i)
    hover(2 + 30 * i, 207, bigIds[i][0], bigIds[i][1], bigIds[i][2], bigIds[i][3], 0);
  hover(143, 211, 179, 180, 182, 181, 2);  // up, latched
  hover(143, 235, 164, 165, 167, 166, 0);
  hover(132, 221, 170, 171, 173, 172, 0);
  hover(158, 221, 175, 176, 178, 177, 3);
  for (int k = 0; k < 8; ++k)
    hover(k <= 3 ? 181 + 15 * k : 121 + 15 * k, k <= 3 ? 207 : 228, 199 + k, 207 + k, 223 + k,
          215 + k, k == 1 ? 2 : 0);
  for (int n = 0; n < 16; ++n) {
    auto button = std::make_unique<CChannelButton>(&window);
    button->setGeometry(n <= 8 ? 1 + 13 * n : 122 + 17 * (n - 9), 187, 13, 15);
    button->setCaption(QString::number(n + 1));
    button->setState(n == 2 ? 1 : n >= 6 ? 3 : 0);
    QFont font = button->font();
    font.setPixelSize(10);
    button->setFont(font);
    controls.push_back(std::move(button));
  }
  auto slider = std::make_unique<CSkinSlider>(&window);
  slider->move(175, 4);
  slider->setTrackImages(152, 151, true, 0x000000, 0, 0);
  slider->setThumbImages(153, 154, false, 0, 0, 0);
  slider->setRange(0, 0xFFFF);
  slider->setPosition(0xB000);
  controls.push_back(std::move(slider));
  save(window, "skin-in-use.png");
}

// Every button family in states A (0), B (1), C (2) and D (3), the channel button in its four
// states and disabled, and the volume slider at three positions and while dragged; shown at 3x.
TEST_F(Screenshots, SkinStates) {
  QWidget sheet;
  sheet.setFixedSize(200, 190);
  sheet.setAutoFillBackground(true);
  QPalette palette;
  palette.setColor(QPalette::Window, QColor(0x26, 0x2b, 0x31));
  sheet.setPalette(palette);
  std::vector<std::unique_ptr<QWidget>> controls;
  const int families[][4] = {{195, 196, 198, 197},
                             {155, 156, 158, 157},
                             {179, 180, 182, 181},
                             {175, 176, 178, 177},
                             {201, 209, 225, 217}};
  int x = 4;
  for (const auto& ids : families) {
    for (int state = 0; state < 4; ++state) {
      auto button = std::make_unique<CHoverButton>(&sheet);
      button->move(x, 4 + 44 * state);
      button->loadImages(ids[0], ids[1], ids[2], ids[3]);
      button->setState(state);
      controls.push_back(std::move(button));
    }
    x += 32;
  }
  for (int state = 0; state < 5; ++state) {
    auto button = std::make_unique<CChannelButton>(&sheet);
    button->setGeometry(166, 4 + 20 * state, 13, 15);
    button->setCaption(QString::number(state + 1));
    QFont font = button->font();
    font.setPixelSize(10);
    button->setFont(font);
    button->setState(state < 4 ? state : 0);
    button->setEnabled(state < 4);
    controls.push_back(std::move(button));
  }
  const int positions[] = {0, 0x8000, 0xFFFF, 0x4000};
  for (int i = 0; i < 4; ++i) {
    auto slider = std::make_unique<CSkinSlider>(&sheet);
    slider->move(166, 110 + 14 * i);
    slider->setTrackImages(152, 151, true, 0x000000, 0, 0);
    slider->setThumbImages(153, 154, false, 0, 0, 0);
    slider->setRange(0, 0xFFFF);
    slider->setPosition(positions[i]);
    if (i == 3) QTest::mousePress(slider.get(), Qt::LeftButton, {}, {slider->thumbCentre(), 4});
    controls.push_back(std::move(slider));
  }
  sheet.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&sheet));
  const QImage image = sheet.grab().toImage();
  ASSERT_TRUE(image.scaled(image.size() * 3).save(QDir(directory_).filePath("skin-states.png")));
  QTest::mouseRelease(static_cast<CSkinSlider*>(controls.back().get()), Qt::LeftButton);
}

}  // namespace
