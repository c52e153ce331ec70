#include "ui/connect_dlg.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

#include "book_fixture.h"
#include "ui/control_id.h"

namespace {

const QString kMissingInput = "input the connection information, please.";

class ConnectDialog : public DialogFixture {
 protected:
  QComboBox* addressList() { return findControl<QComboBox>(&dialog_, CConnectDlg::kAddressId); }
  QLineEdit* edit(int id) { return findControl<QLineEdit>(&dialog_, id); }
  QPushButton* button(int id) { return findControl<QPushButton>(&dialog_, id); }

  QStringList listItems() {
    QStringList items;
    for (int i = 0; i < addressList()->count(); ++i) items << addressList()->itemText(i);
    return items;
  }
  // Address, port, user ID and password as shown.
  QStringList fields() {
    return {addressList()->currentText(), edit(CConnectDlg::kPortId)->text(),
            edit(CConnectDlg::kUserIdId)->text(), edit(CConnectDlg::kPasswordId)->text()};
  }
  // Fills the four fields as a user would; presses Connect unless `key` is given.
  void connectWith(const QString& address, const QString& port, const QString& user,
                   const QString& password, Qt::Key key = Qt::Key_unknown) {
    typeInto(addressList()->lineEdit(), address);
    typeInto(edit(CConnectDlg::kPortId), port);
    typeInto(edit(CConnectDlg::kUserIdId), user);
    typeInto(edit(CConnectDlg::kPasswordId), password);
    if (key == Qt::Key_unknown)
      QTest::mouseClick(button(CConnectDlg::kConnectId), Qt::LeftButton);
    else
      QTest::keyClick(edit(CConnectDlg::kPasswordId), key);
  }

  CConnectDlg dialog_;
};

TEST_F(ConnectDialog, HasTheLayoutsControlsAndTexts) {
  EXPECT_EQ(dialog_.windowTitle(), "Remote Connection");
  ASSERT_NE(addressList(), nullptr);
  EXPECT_TRUE(addressList()->isEditable());
  for (int id : {CConnectDlg::kPortId, CConnectDlg::kUserIdId, CConnectDlg::kPasswordId})
    ASSERT_NE(edit(id), nullptr) << id;
  EXPECT_EQ(edit(CConnectDlg::kPasswordId)->echoMode(), QLineEdit::Password);
  EXPECT_EQ(button(CConnectDlg::kConnectId)->text(), "Connect");
  EXPECT_EQ(button(CConnectDlg::kCancelId)->text(), "Cancel");
  EXPECT_EQ(textsOf<QLabel>(dialog_), (QStringList{"IP Addr", "Port", "User ID", "Pass"}));
  ASSERT_EQ(dialog_.findChildren<QGroupBox*>().size(), 1);
  EXPECT_EQ(dialog_.findChildren<QGroupBox*>().front()->title(), "DVR Connect");
  // 7/4 pixel per dialog unit: Connect at 45, 90 (44 x 12 units).
  EXPECT_EQ(button(CConnectDlg::kConnectId)->geometry(), QRect(79, 158, 77, 21));
  EXPECT_EQ(dialog_.size(), QSize(240, 186));
}

TEST_F(ConnectDialog, EachRunPrefillsFromRecordZeroAndChoosingAnAddressFillsItsFirstRecord) {
  showAndActivate(dialog_);  // no book: everything empty
  EXPECT_EQ(fields(), (QStringList{"", "", "", ""}));
  EXPECT_EQ(addressList()->count(), 0);
  typeInto(edit(CConnectDlg::kPasswordId), "pw");
  dialog_.hide();

  setBook(k7 + recordBytes("10.0.0.9", "1", "x") + recordBytes("b.dvr", "2", "y") +
          recordBytes("10.0.0.5", "8000", "operator") + recordBytes("A.dvr", "4", "w") +
          recordBytes("10.0.0.7", "7000", "old"));
  showAndActivate(dialog_);
  EXPECT_EQ(fields(), (QStringList{"10.0.0.7", "9000", "admin", ""}));
  EXPECT_EQ(listItems(), (QStringList{"10.0.0.5", "10.0.0.7", "10.0.0.9", "A.dvr", "b.dvr"}));
  typeInto(edit(CConnectDlg::kPasswordId), "secret");

  // 10.0.0.5, only a list record, chosen from the drop-down list.
  addressList()->showPopup();
  QAbstractItemView* popup = addressList()->view();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(popup->window()));
  QTest::mouseClick(popup->viewport(), Qt::LeftButton, {},
                    popup->visualRect(popup->model()->index(0, 0)).center());
  EXPECT_EQ(fields(), (QStringList{"10.0.0.5", "8000", "operator", "secret"}));

  // Keyboard choice of 10.0.0.7: record 0 wins over its list record.
  addressList()->setFocus();
  QTest::keyClick(addressList(), Qt::Key_Down);
  EXPECT_EQ(fields(), (QStringList{"10.0.0.7", "9000", "admin", "secret"}));
}

TEST_F(ConnectDialog, ConnectNeedsAddressUserPasswordAndANonZeroPort) {
  showAndActivate(dialog_);
  const QStringList refused[] = {
      {"10.0.0.5", "0", "admin", "pw"},   {"10.0.0.5", "", "admin", "pw"},
      {"10.0.0.5", "abc", "admin", "pw"}, {"10.0.0.5", "9000", "admin", ""},
      {"10.0.0.5", "9000", "", "pw"},     {"", "9000", "admin", "pw"}};
  size_t boxes = 0;
  for (const QStringList& c : refused) {
    SCOPED_TRACE(c.join('|').toStdString());
    connectWith(c[0], c[1], c[2], c[3]);
    expectBoxes(++boxes, kMissingInput);
    EXPECT_TRUE(dialog_.isVisible());
  }

  connectWith("10.0.0.5", "-5", "admin", "pw");  // a negative port passes the check
  EXPECT_FALSE(dialog_.isVisible());
  EXPECT_EQ(dialog_.result(), CConnectDlg::kConnectId);
  EXPECT_EQ(dialog_.address(), "10.0.0.5");
  EXPECT_EQ(dialog_.port(), -5);
  EXPECT_EQ(dialog_.userId(), "admin");
  EXPECT_EQ(dialog_.password(), "pw");
  expectBoxes(boxes, kMissingInput);
}

TEST_F(ConnectDialog, TabWalksTheFieldsReturnConnectsAndCancelKeepsTheLastConnect) {
  showAndActivate(dialog_);
  addressList()->setFocus();
  for (int id : {CConnectDlg::kPortId, CConnectDlg::kUserIdId, CConnectDlg::kPasswordId,
                 CConnectDlg::kConnectId, CConnectDlg::kCancelId}) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), findControl<QWidget>(&dialog_, id)) << id;
  }

  connectWith("10.0.0.6", "9000", "admin", "pw", Qt::Key_Return);
  EXPECT_FALSE(dialog_.isVisible());
  EXPECT_EQ(dialog_.result(), CConnectDlg::kConnectId);
  EXPECT_EQ(dialog_.password(), "pw");
  EXPECT_EQ(addressList()->count(), 0);  // Return never adds typed text to the list

  showAndActivate(dialog_);
  typeInto(edit(CConnectDlg::kUserIdId), "someone");
  typeInto(edit(CConnectDlg::kPasswordId), "else");
  QTest::mouseClick(button(CConnectDlg::kCancelId), Qt::LeftButton);
  EXPECT_FALSE(dialog_.isVisible());
  EXPECT_EQ(dialog_.result(), CConnectDlg::kCancelId);
  EXPECT_EQ(dialog_.userId(), "admin");
  EXPECT_EQ(dialog_.password(), "pw");

  showAndActivate(dialog_);
  QTest::keyClick(&dialog_, Qt::Key_Escape);
  EXPECT_FALSE(dialog_.isVisible());
  EXPECT_EQ(dialog_.result(), CConnectDlg::kCancelId);
}

TEST_F(ConnectDialog, ConnectThroughTheHostThenSaveTheConnectionButNeverThePassword) {
  EXPECT_FALSE(dialog_.saveConnection());  // nothing connected yet: nothing stored
  EXPECT_FALSE(exists(addressbook::bookPath()));

  setBook(k7 + k7);
  host_.answerDialog = [this](QDialog& dialog) {
    showAndActivate(dialog);
    connectWith("10.0.0.9", "0080", "guest", "Pa55word");
    return dialog.result();
  };
  EXPECT_EQ(platform::dialogHost().execDialog(dialog_), CConnectDlg::kConnectId);
  ASSERT_TRUE(dialog_.saveConnection());
  EXPECT_EQ(book(), k9 + k7 + k9);
  EXPECT_FALSE(book().contains("Pa55word"));
  EXPECT_FALSE(exists(addressbook::tempPath()));
}

// The main window empties the shown name when a connection ends or fails; a save that follows
// (a late "Connected" of the old session) must then store nothing.
TEST_F(ConnectDialog, ClearAddressEmptiesOnlyTheAddressAndTheNextRunStillPrefillsFromTheBook) {
  setBook(k7 + k7);
  showAndActivate(dialog_);
  connectWith("10.0.0.9", "80", "guest", "pw");
  ASSERT_EQ(dialog_.address(), "10.0.0.9");

  dialog_.clearAddress();
  EXPECT_EQ(dialog_.address(), "");
  EXPECT_EQ(dialog_.port(), 80);
  EXPECT_EQ(dialog_.userId(), "guest");
  EXPECT_EQ(dialog_.password(), "pw");
  EXPECT_FALSE(dialog_.saveConnection());
  EXPECT_EQ(book(), k7 + k7);

  // A cancelled run keeps the emptied address; the fields show the book's last-used entry.
  showAndActivate(dialog_);
  EXPECT_EQ(fields(), (QStringList{"10.0.0.7", "9000", "admin", ""}));
  QTest::mouseClick(button(CConnectDlg::kCancelId), Qt::LeftButton);
  EXPECT_EQ(dialog_.address(), "");

  // Without a book the field starts empty; the next Connect sets the address again.
  QFile::remove(addressbook::bookPath());
  showAndActivate(dialog_);
  EXPECT_EQ(fields(), (QStringList{"", "", "", ""}));
  connectWith("10.0.0.5", "9000", "admin", "pw");
  EXPECT_EQ(dialog_.address(), "10.0.0.5");
  ASSERT_TRUE(dialog_.saveConnection());
  EXPECT_EQ(book(), k5 + k5);
}

}  // namespace
