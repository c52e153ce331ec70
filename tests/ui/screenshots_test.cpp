// Saves pictures of both dialogs and of the skin controls in their states to the folder named by
// PV_SCREENSHOT_DIR (tools/screenshots.sh runs this under Xvfb). Skipped when it is not set.
#include <QDir>
#include <QLabel>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <array>

#include "book_fixture.h"
#include "ui/address_book_dlg.h"
#include "ui/channel_button.h"
#include "ui/connect_dlg.h"
#include "ui/control_id.h"
#include "ui/hover_button.h"
#include "ui/skin_artwork.h"
#include "ui/skin_slider.h"

namespace {

class Screenshots : public BookFixture {
 protected:
  void SetUp() override {
    directory_ = qEnvironmentVariable("PV_SCREENSHOT_DIR");
    if (directory_.isEmpty()) GTEST_SKIP() << "PV_SCREENSHOT_DIR is not set";
    BookFixture::SetUp();
    ASSERT_TRUE(QDir().mkpath(directory_));
    setBook(k7 + k5 + recordBytes("dvr-lobby.local", "8000", "viewer") + k7);
  }
  void save(QWidget& widget, const QString& name, int scale = 1) {
    widget.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
    QTest::qWait(50);
    const QImage image = widget.grab().toImage();
    ASSERT_TRUE(image.scaled(image.size() * scale).save(QDir(directory_).filePath(name)));
  }
  // Controls belong to their parent widget, which deletes them.
  static void hover(QWidget* parent, QPoint at, const std::array<int, 4>& ids, int state) {
    auto* button = new CHoverButton(parent);
    button->move(at);
    button->loadImages(ids[0], ids[1], ids[2], ids[3]);
    button->setState(state);
  }
  static void channel(QWidget* parent, QRect at, int number, int state, bool enabled = true) {
    auto* button = new CChannelButton(parent);
    button->setGeometry(at);
    button->setCaption(QString::number(number));
    button->setState(state);
    button->setEnabled(enabled);
    QFont font = button->font();
    font.setPixelSize(10);
    button->setFont(font);
  }
  static CSkinSlider* slider(QWidget* parent, QPoint at, int position) {
    auto* slider = new CSkinSlider(parent);
    slider->move(at);
    slider->setTrackImages(152, 151, true, 0x000000, 0, 0);
    slider->setThumbImages(153, 154, false, 0, 0, 0);
    slider->setRange(0, 0xFFFF);
    slider->setPosition(position);
    return slider;
  }

  QString directory_;
};

TEST_F(Screenshots, Dialogs) {
  CConnectDlg connect;
  connect.show();  // fills the fields from the book before the password is typed
  QTest::keyClicks(findControl<QLineEdit>(&connect, CConnectDlg::kPasswordId), "secret");
  save(connect, "connect-dialog.png");

  CAddressBookDlg book;
  book.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&book));
  auto* list = findControl<QTreeWidget>(&book, CAddressBookDlg::kListId);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    list->visualItemRect(list->topLevelItem(1)).center());
  save(book, "address-book-dialog.png");
}

// The main window's controls where the window puts them, in a typical moment: connected, channel 3
// shown, channels 7..16 unavailable, audio on, camera panel up with "up" latched and preset 2
// active.
TEST_F(Screenshots, SkinInUse) {
  QLabel window;
  window.setPixmap(QPixmap::fromImage(skin::bitmap(skin::kBackground)));
  hover(&window, {13, 3}, {137, 138, 138, 0}, 0);   // Disconnect (Connect hidden while connected)
  hover(&window, {111, 3}, {142, 143, 143, 0}, 0);  // address book
  hover(&window, {159, 3}, {144, 145, 145, 0}, 0);  // audio off (audio is on)
  hover(&window, {29, 181}, {150, 150, 150, 0}, 0);
  const std::array<int, 4> big[] = {
      {195, 196, 198, 197}, {191, 192, 194, 193}, {159, 160, 162, 161}, {155, 156, 158, 157}};
  for (int i = 0; i < 4; ++i) hover(&window, {2 + 30 * i, 207}, big[i], 0);
  hover(&window, {143, 211}, {179, 180, 182, 181}, 2);  // up, latched
  hover(&window, {143, 235}, {164, 165, 167, 166}, 0);
  hover(&window, {132, 221}, {170, 171, 173, 172}, 0);
  hover(&window, {158, 221}, {175, 176, 178, 177}, 3);
  for (int k = 0; k < 8; ++k)
    hover(&window, {k <= 3 ? 181 + 15 * k : 121 + 15 * k, k <= 3 ? 207 : 228},
          {199 + k, 207 + k, 223 + k, 215 + k}, k == 1 ? 2 : 0);
  for (int n = 0; n < 16; ++n)
    channel(&window, {n <= 8 ? 1 + 13 * n : 122 + 17 * (n - 9), 187, 13, 15}, n + 1,
            n == 2 ? 1 : (n >= 6 ? 3 : 0));
  slider(&window, {175, 4}, 0xB000);
  save(window, "skin-in-use.png");
}

// Button families in states A (0), B (1), C (2) and D (3), the channel button in its four states
// and disabled, and the volume slider at three positions and while dragged; shown at 3x.
TEST_F(Screenshots, SkinStates) {
  QWidget sheet;
  sheet.setFixedSize(200, 190);
  sheet.setAutoFillBackground(true);
  sheet.setPalette(QPalette(QColor(0x26, 0x2b, 0x31)));
  const std::array<int, 4> families[] = {{195, 196, 198, 197},
                                         {155, 156, 158, 157},
                                         {179, 180, 182, 181},
                                         {175, 176, 178, 177},
                                         {201, 209, 225, 217}};
  for (int i = 0; i < 5; ++i)
    for (int state = 0; state < 4; ++state)
      hover(&sheet, {4 + 32 * i, 4 + 44 * state}, families[i], state);
  for (int state = 0; state < 5; ++state)
    channel(&sheet, {166, 4 + 20 * state, 13, 15}, state + 1, state % 4, state < 4);
  for (int i = 0; i < 3; ++i) slider(&sheet, {166, 110 + 14 * i}, 0x7FFF * i);
  CSkinSlider* dragged = slider(&sheet, {166, 152}, 0x4000);
  QTest::mousePress(dragged, Qt::LeftButton, {}, {dragged->thumbCentre(), 4});
  save(sheet, "skin-states.png", 3);
  QTest::mouseRelease(dragged, Qt::LeftButton);
}

}  // namespace
