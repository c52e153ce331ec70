// Pictures of both dialogs and of the skin controls in their states, checked on their pixels: each
// skin button shows exactly its artwork, channel captions are drawn in their state's colour, the
// slider's key colour lets the window through, the dialogs' texts are drawn. With
// PV_SCREENSHOT_DIR set the pictures are also saved there (tools/screenshots.sh runs this under
// Xvfb to refresh docs/screenshots/).
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <functional>
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

// Pixels of `image` inside `rect` that `match`.
int countPixels(const QImage& image, QRect rect, const std::function<bool(QRgb)>& match) {
  int count = 0;
  rect &= image.rect();
  for (int y = rect.top(); y <= rect.bottom(); ++y)
    for (int x = rect.left(); x <= rect.right(); ++x) count += match(image.pixel(x, y)) ? 1 : 0;
  return count;
}

// Pixels within a few steps of a colour (styles shade their fills slightly).
int pixelsNear(const QImage& image, QRect rect, QColor colour) {
  return countPixels(image, rect, [colour](QRgb pixel) {
    return std::abs(qRed(pixel) - colour.red()) <= 16 &&
           std::abs(qGreen(pixel) - colour.green()) <= 16 &&
           std::abs(qBlue(pixel) - colour.blue()) <= 16;
  });
}

// How much ink a pixel of text drawn in `ink` on white holds: 0 for white, 1 for the ink itself,
// in between at smoothed edges; -1 for a pixel that is no such mix (ink of another colour).
double inkCoverage(QRgb pixel, QColor ink) {
  const std::array<int, 3> drawn{qRed(pixel), qGreen(pixel), qBlue(pixel)};
  const std::array<int, 3> pure{ink.red(), ink.green(), ink.blue()};
  size_t widest = 0;
  for (size_t c = 1; c < 3; ++c)
    if (pure[c] < pure[widest]) widest = c;
  const double coverage = (255.0 - drawn[widest]) / (255.0 - pure[widest]);
  if (coverage < -0.02 || coverage > 1.05) return -1;
  for (size_t c = 0; c < 3; ++c)
    if (std::abs(255.0 - coverage * (255.0 - pure[c]) - drawn[c]) > 10) return -1;
  return coverage;
}

// Dark enough to be text in the dialogs' light style.
int darkPixels(const QImage& image, QRect rect) {
  return countPixels(image, rect, [](QRgb pixel) { return qGray(pixel) < 110; });
}

int distinctColours(const QImage& image) {
  QSet<QRgb> colours;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) colours.insert(image.pixel(x, y));
  return static_cast<int>(colours.size());
}

QImage artwork(int id) {
  return skin::bitmap(id).convertToFormat(QImage::Format_RGB32);
}

// A control's rectangle in the coordinates of the window it was grabbed with.
QRect placed(const QWidget& control, const QWidget& window) {
  return QRect(control.mapTo(&window, QPoint(0, 0)), control.size());
}

class Screenshots : public BookFixture {
 protected:
  void SetUp() override {
    BookFixture::SetUp();
    setBook(k7 + k5 + recordBytes("dvr-lobby.local", "8000", "viewer") + k7);
    directory_ = qEnvironmentVariable("PV_SCREENSHOT_DIR");
    if (!directory_.isEmpty()) {
      ASSERT_TRUE(QDir().mkpath(directory_));
    }
  }

  // Shows the widget and returns its picture; saves it, enlarged `scale` times, when asked to.
  QImage shoot(QWidget& widget, const QString& name, int scale = 1) {
    widget.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&widget));
    QTest::qWait(50);
    const QImage image = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    if (!directory_.isEmpty()) {
      EXPECT_TRUE(image.scaled(image.size() * scale).save(QDir(directory_).filePath(name)));
    }
    return image;
  }

  // Controls belong to their parent widget, which deletes them. Each records what it must show.
  void hover(QWidget* parent, QPoint at, const std::array<int, 4>& ids, int state) {
    auto* button = new CHoverButton(parent);
    button->move(at);
    button->loadImages(ids[0], ids[1], ids[2], ids[3]);
    button->setState(state);
    buttons_.push_back({button, ids[static_cast<size_t>(state)]});
  }
  void channel(QWidget* parent, QRect at, int number, int state, bool enabled = true) {
    auto* button = new CChannelButton(parent);
    button->setGeometry(at);
    button->setCaption(QString::number(number));
    button->setState(state);
    button->setEnabled(enabled);
    QFont font = button->font();
    font.setPixelSize(10);
    button->setFont(font);
    const QColor caption = !enabled || state == 3 ? QColor(140, 140, 140)
                           : state == 0           ? QColor(0, 0, 0)
                                                  : QColor(0, 39, 104);
    channels_.push_back({button, caption});
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

  // Every skin button shows exactly its artwork; every channel button has its white frame and a
  // caption in its state's colour on white.
  void expectControlsAsDrawn(const QImage& image, const QWidget& window) {
    for (const auto& [button, id] : buttons_) {
      SCOPED_TRACE(id);
      EXPECT_EQ(image.copy(placed(*button, window)), artwork(id));
    }
    for (const auto& [button, caption] : channels_) {
      SCOPED_TRACE(button->caption().toStdString());
      const QRect at = placed(*button, window);
      EXPECT_EQ(QColor(image.pixel(at.topLeft())), QColor(Qt::white));
      EXPECT_EQ(QColor(image.pixel(at.bottomRight())), QColor(Qt::white));
      // The caption: ink of its colour only, some of it solid, several pixels' worth in all.
      const QRect inside = at.adjusted(2, 2, -2, -2);
      double ink = 0, darkest = 0;
      int foreign = 0;
      for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x) {
          const double coverage = inkCoverage(image.pixel(x, y), caption);
          foreign += coverage < 0 ? 1 : 0;
          ink += std::max(coverage, 0.0);
          darkest = std::max(darkest, coverage);
        }
      EXPECT_EQ(foreign, 0);
      EXPECT_GT(darkest, 0.8);
      EXPECT_GT(ink, 4.0);
    }
  }

  // The thumb's artwork at its centre; beside it the filled track to the left, the plain one to
  // the right, and the window's own pixels where the track holds the key colour (black).
  static void expectSlider(const QImage& image, const QWidget& window, const CSkinSlider& slider,
                           int thumbId, const QImage& behind) {
    const QPoint origin = placed(slider, window).topLeft();
    const QRect thumb(slider.thumbCentre() - 3, 0, 6, 9);
    EXPECT_EQ(image.copy(thumb.translated(origin)), artwork(thumbId));
    for (const QPoint at : {QPoint(1, 4), QPoint(18, 4), QPoint(0, 0), QPoint(19, 8)}) {
      if (thumb.contains(at)) continue;
      const QRgb track = artwork(at.x() < slider.thumbCentre() ? 151 : 152).pixel(at);
      const QRgb expected = qRgb(0, 0, 0) == track ? behind.pixel(origin + at) : track;
      EXPECT_EQ(image.pixel(origin + at), expected) << at.x() << "," << at.y();
    }
  }

  struct ShownButton {
    const CHoverButton* button;
    int imageId;
  };
  struct ShownChannel {
    const CChannelButton* button;
    QColor caption;
  };
  std::vector<ShownButton> buttons_;
  std::vector<ShownChannel> channels_;
  QString directory_;
};

TEST_F(Screenshots, Dialogs) {
  CConnectDlg connect;
  connect.show();  // fills the fields from the book before the password is typed
  QTest::keyClicks(findControl<QLineEdit>(&connect, CConnectDlg::kPasswordId), "secret");
  const QImage connectImage = shoot(connect, "connect-dialog.png");
  EXPECT_EQ(connectImage.size(), QSize(240, 186));
  // Every label, filled field and button caption is drawn.
  for (const QLabel* label : connect.findChildren<QLabel*>())
    EXPECT_GT(darkPixels(connectImage, placed(*label, connect)), 5) << label->text().toStdString();
  for (int id : {CConnectDlg::kAddressId, CConnectDlg::kPortId, CConnectDlg::kUserIdId,
                 CConnectDlg::kPasswordId, CConnectDlg::kConnectId, CConnectDlg::kCancelId})
    EXPECT_GT(darkPixels(connectImage, placed(*findControl<QWidget>(&connect, id), connect)), 5)
        << id;

  CAddressBookDlg book;
  book.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&book));
  auto* list = findControl<QTreeWidget>(&book, CAddressBookDlg::kListId);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    list->visualItemRect(list->topLevelItem(1)).center());
  const QImage bookImage = shoot(book, "address-book-dialog.png");
  EXPECT_EQ(bookImage.size(), QSize(240, 347));
  // The chosen row is highlighted across the list, the others are not; each row has its text.
  const auto rowRect = [&](int row) {
    const QRect inViewport = list->visualItemRect(list->topLevelItem(row));
    return QRect(list->viewport()->mapTo(&book, inViewport.topLeft()), inViewport.size());
  };
  const QColor highlight = list->palette().color(QPalette::Active, QPalette::Highlight);
  const QRect chosen = rowRect(1);
  EXPECT_GT(pixelsNear(bookImage, chosen, highlight), chosen.width() * chosen.height() / 2);
  for (int row : {0, 2}) EXPECT_EQ(pixelsNear(bookImage, rowRect(row), highlight), 0) << row;
  for (int row : {0, 2}) EXPECT_GT(darkPixels(bookImage, rowRect(row)), 10) << row;
  for (int id : {CAddressBookDlg::kAddressId, CAddressBookDlg::kPortId, CAddressBookDlg::kUserIdId,
                 CAddressBookDlg::kAddId, CAddressBookDlg::kDeleteId, CAddressBookDlg::kModifyId})
    EXPECT_GT(darkPixels(bookImage, placed(*findControl<QWidget>(&book, id), book)), 5) << id;
}

// The main window's controls where the window puts them, in a typical moment: connected, channel 3
// shown, channels 7..16 unavailable, audio on, camera panel up with "up" latched and preset 2
// active.
TEST_F(Screenshots, SkinInUse) {
  QLabel window;
  const QImage background = artwork(skin::kBackground);
  window.setPixmap(QPixmap::fromImage(background));
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
  const CSkinSlider* volume = slider(&window, {175, 4}, 0xB000);
  const QImage image = shoot(window, "skin-in-use.png");

  ASSERT_EQ(image.size(), QSize(skin::kBackgroundWidth, skin::kBackgroundHeight));
  EXPECT_GT(distinctColours(image), 40);
  expectControlsAsDrawn(image, window);
  expectSlider(image, window, *volume, 153, background);
  // Where no control sits, the background shows: the picture area and the top bar's name field.
  for (const QPoint at : {QPoint(120, 100), QPoint(60, 8), QPoint(5, 260)})
    EXPECT_EQ(image.pixel(at), background.pixel(at)) << at.x() << "," << at.y();
}

// Button families in states A (0), B (1), C (2) and D (3), the channel button in its four states
// and disabled, and the volume slider at three positions and while dragged; shown at 3x.
TEST_F(Screenshots, SkinStates) {
  QWidget sheet;
  sheet.setFixedSize(200, 190);
  sheet.setAutoFillBackground(true);
  const QColor sheetColour(0x26, 0x2b, 0x31);
  sheet.setPalette(QPalette(sheetColour));
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
  std::vector<const CSkinSlider*> sliders;
  for (int i = 0; i < 3; ++i) sliders.push_back(slider(&sheet, {166, 110 + 14 * i}, 0x7FFF * i));
  CSkinSlider* dragged = slider(&sheet, {166, 152}, 0x4000);
  QTest::mousePress(dragged, Qt::LeftButton, {}, {dragged->thumbCentre(), 4});
  const QImage image = shoot(sheet, "skin-states.png", 3);
  QTest::mouseRelease(dragged, Qt::LeftButton);

  ASSERT_EQ(image.size(), QSize(200, 190));
  EXPECT_GT(distinctColours(image), 40);
  expectControlsAsDrawn(image, sheet);
  QImage behind(image.size(), QImage::Format_RGB32);
  behind.fill(sheetColour);
  for (const CSkinSlider* still : sliders) expectSlider(image, sheet, *still, 153, behind);
  expectSlider(image, sheet, *dragged, 154, behind);
  // The three resting sliders show their thumbs at the left end, the middle and the right end.
  EXPECT_EQ(sliders[0]->thumbCentre(), 3);
  EXPECT_EQ(sliders[2]->thumbCentre(), 17);
}

}  // namespace
