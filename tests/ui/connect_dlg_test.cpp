#include "ui/connect_dlg.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include "dialog_fixture.h"
#include "ui/control_id.h"

namespace {

const QString kMissingInput = "input the connection information, please.";

class ConnectDialog : public DialogFixture {
 protected:
  QComboBox* addressList() { return findControl<QComboBox>(&dialog_, CConnectDlg::kAddressId); }
  QLineEdit* portEdit() { return findControl<QLineEdit>(&dialog_, CConnectDlg::kPortId); }
  QLineEdit* userEdit() { return findControl<QLineEdit>(&dialog_, CConnectDlg::kUserIdId); }
  QLineEdit* passwordEdit() { return findControl<QLineEdit>(&dialog_, CConnectDlg::kPasswordId); }
  QPushButton* connectButton() {
    return findControl<QPushButton>(&dialog_, CConnectDlg::kConnectId);
  }
  QPushButton* cancelButton() { return findControl<QPushButton>(&dialog_, CConnectDlg::kCancelId); }

  QStringList listItems() {
    QStringList items;
    for (int i = 0; i < addressList()->count(); ++i) items << addressList()->itemText(i);
    return items;
  }

  // Fills the four fields as a user would and presses Connect.
  void connectWith(const QString& address, const QString& port, const QString& user,
                   const QString& password) {
    addressList()->lineEdit()->clear();
    QTest::keyClicks(addressList()->lineEdit(), address);
    typeInto(portEdit(), port);
    typeInto(userEdit(), user);
    typeInto(passwordEdit(), password);
    QTest::mouseClick(connectButton(), Qt::LeftButton);
  }

  CConnectDlg dialog_;
};

TEST_F(ConnectDialog, HasTheLayoutsControlsAndTexts) {
  EXPECT_EQ(dialog_.windowTitle(), "Remote Connection");
  ASSERT_NE(addressList(), nullptr);
  EXPECT_TRUE(addressList()->isEditable());
  ASSERT_NE(portEdit(), nullptr);
  ASSERT_NE(userEdit(), nullptr);
  ASSERT_NE(passwordEdit(), nullptr);
  EXPECT_EQ(passwordEdit()->echoMode(), QLineEdit::Password);
  EXPECT_EQ(connectButton()->text(), "Connect");
  EXPECT_EQ(cancelButton()->text(), "Cancel");
  QStringList labels;
  for (const auto* label : dialog_.findChildren<QLabel*>()) labels << label->text();
  EXPECT_EQ(labels, (QStringList{"IP Addr", "Port", "User ID", "Pass"}));
  ASSERT_EQ(dialog_.findChildren<QGroupBox*>().size(), 1);
  EXPECT_EQ(dialog_.findChildren<QGroupBox*>().front()->title(), "DVR Connect");
  // 7/4 pixel per dialog unit: Connect at 45, 90 (44 x 12 units).
  EXPECT_EQ(connectButton()->geometry(), QRect(79, 158, 77, 21));
  EXPECT_EQ(dialog_.size(), QSize(240, 186));
}

TEST_F(ConnectDialog, PrefillsFromLastUsedEntryAndListsKnownAddressesSorted) {
  setBook(recordBytes("10.0.0.7", "9000", "admin") + recordBytes("10.0.0.9", "1", "x") +
          recordBytes("b.dvr", "2", "y") + recordBytes("10.0.0.5", "3", "z") +
          recordBytes("A.dvr", "4", "w") + recordBytes("10.0.0.7", "9000", "admin"));
  showAndActivate(dialog_);
  EXPECT_EQ(addressList()->currentText(), "10.0.0.7");
  EXPECT_EQ(portEdit()->text(), "9000");
  EXPECT_EQ(userEdit()->text(), "admin");
  EXPECT_EQ(passwordEdit()->text(), "");
  EXPECT_EQ(listItems(), (QStringList{"10.0.0.5", "10.0.0.7", "10.0.0.9", "A.dvr", "b.dvr"}));
}

TEST_F(ConnectDialog, EachRunReadsTheBookAfreshAndAMissingBookLeavesEverythingEmpty) {
  showAndActivate(dialog_);
  EXPECT_EQ(addressList()->currentText(), "");
  EXPECT_EQ(addressList()->count(), 0);
  EXPECT_EQ(portEdit()->text(), "");
  typeInto(passwordEdit(), "pw");
  dialog_.hide();

  setBook(recordBytes("10.0.0.5", "9000", "admin") + recordBytes("10.0.0.5", "9000", "admin"));
  showAndActivate(dialog_);
  EXPECT_EQ(addressList()->currentText(), "10.0.0.5");
  EXPECT_EQ(listItems(), QStringList{"10.0.0.5"});
  EXPECT_EQ(passwordEdit()->text(), "");
}

TEST_F(ConnectDialog, ChoosingAnAddressFillsUserIdAndPortFromItsFirstRecord) {
  setBook(recordBytes("10.0.0.7", "9000", "admin") + recordBytes("10.0.0.5", "8000", "operator") +
          recordBytes("10.0.0.7", "7000", "old"));
  showAndActivate(dialog_);
  typeInto(passwordEdit(), "secret");

  // 10.0.0.5, only a list record, chosen from the drop-down list.
  addressList()->showPopup();
  QAbstractItemView* popup = addressList()->view();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(popup->window()));
  QTest::mouseClick(popup->viewport(), Qt::LeftButton, {},
                    popup->visualRect(popup->model()->index(0, 0)).center());
  EXPECT_EQ(addressList()->currentText(), "10.0.0.5");
  EXPECT_EQ(userEdit()->text(), "operator");
  EXPECT_EQ(portEdit()->text(), "8000");

  // Keyboard choice of 10.0.0.7: record 0 wins over its list record.
  addressList()->setFocus();
  QTest::keyClick(addressList(), Qt::Key_Down);
  EXPECT_EQ(addressList()->currentText(), "10.0.0.7");
  EXPECT_EQ(userEdit()->text(), "admin");
  EXPECT_EQ(portEdit()->text(), "9000");
  EXPECT_EQ(passwordEdit()->text(), "secret");
}

TEST_F(ConnectDialog, ConnectNeedsAddressUserPasswordAndANonZeroPort) {
  showAndActivate(dialog_);
  struct Case {
    QString address, port, user, password;
  };
  const Case refused[] = {{"10.0.0.5", "0", "admin", "pw"},   {"10.0.0.5", "", "admin", "pw"},
                          {"10.0.0.5", "abc", "admin", "pw"}, {"10.0.0.5", "9000", "admin", ""},
                          {"10.0.0.5", "9000", "", "pw"},     {"", "9000", "admin", "pw"}};
  int boxes = 0;
  for (const Case& c : refused) {
    connectWith(c.address, c.port, c.user, c.password);
    ++boxes;
    ASSERT_EQ(host_.messages().size(), static_cast<size_t>(boxes)) << c.port.toStdString();
    EXPECT_EQ(host_.messages().back().text, kMissingInput);
    EXPECT_EQ(host_.messages().back().icon, MessageIcon::Information);
    EXPECT_TRUE(dialog_.isVisible());
  }

  connectWith("10.0.0.5", "-5", "admin", "pw");  // a negative port passes the check
  EXPECT_FALSE(dialog_.isVisible());
  EXPECT_EQ(dialog_.result(), CConnectDlg::kConnectId);
  EXPECT_EQ(dialog_.address(), "10.0.0.5");
  EXPECT_EQ(dialog_.port(), -5);
  EXPECT_EQ(dialog_.userId(), "admin");
  EXPECT_EQ(dialog_.password(), "pw");
  EXPECT_EQ(host_.messages().size(), static_cast<size_t>(boxes));
}

TEST_F(ConnectDialog, ReturnConnectsAndTabWalksTheFieldsInOrder) {
  showAndActivate(dialog_);
  addressList()->setFocus();
  const std::vector<QWidget*> order = {portEdit(), userEdit(), passwordEdit(), connectButton(),
                                       cancelButton()};
  for (QWidget* expected : order) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), expected);
  }

  connectWith("10.0.0.5", "9000", "admin", "pw");
  EXPECT_EQ(dialog_.result(), CConnectDlg::kConnectId);
  showAndActivate(dialog_);
  QTest::keyClicks(addressList()->lineEdit(), "10.0.0.6");
  typeInto(portEdit(), "9000");
  typeInto(userEdit(), "admin");
  typeInto(passwordEdit(), "pw2");
  QTest::keyClick(passwordEdit(), Qt::Key_Return);
  EXPECT_FALSE(dialog_.isVisible());
  EXPECT_EQ(dialog_.result(), CConnectDlg::kConnectId);
  EXPECT_EQ(dialog_.password(), "pw2");
  EXPECT_EQ(addressList()->count(), 0);  // Return never adds typed text to the list
}

TEST_F(ConnectDialog, CancelEndsWith1005AndKeepsTheLastConnectsValues) {
  showAndActivate(dialog_);
  connectWith("10.0.0.5", "9000", "admin", "pw");
  showAndActivate(dialog_);
  typeInto(userEdit(), "someone");
  typeInto(passwordEdit(), "else");
  QTest::mouseClick(cancelButton(), Qt::LeftButton);
  EXPECT_FALSE(dialog_.isVisible());
  EXPECT_EQ(dialog_.result(), CConnectDlg::kCancelId);
  EXPECT_EQ(dialog_.userId(), "admin");
  EXPECT_EQ(dialog_.password(), "pw");

  showAndActivate(dialog_);
  QTest::keyClick(&dialog_, Qt::Key_Escape);
  EXPECT_EQ(dialog_.result(), CConnectDlg::kCancelId);
}

TEST_F(ConnectDialog, RunThroughTheDialogHostReturnsTheButtonId) {
  host_.answerDialog = [this](QDialog& dialog) {
    dialog.show();
    connectWith("10.0.0.5", "9000", "admin", "pw");
    return dialog.result();
  };
  EXPECT_EQ(platform::dialogHost().execDialog(dialog_), CConnectDlg::kConnectId);
}

TEST_F(ConnectDialog, SaveConnectionStoresAddressPortAndUserButNeverThePassword) {
  EXPECT_FALSE(dialog_.saveConnection());  // nothing connected yet: nothing stored
  EXPECT_FALSE(exists(addressbook::bookPath()));

  setBook(recordBytes("10.0.0.7", "9000", "admin") + recordBytes("10.0.0.7", "9000", "admin"));
  showAndActivate(dialog_);
  connectWith("10.0.0.9", "0080", "guest", "Pa55word");
  ASSERT_TRUE(dialog_.saveConnection());
  const QByteArray k9 = recordBytes("10.0.0.9", "80", "guest");
  EXPECT_EQ(book(), k9 + recordBytes("10.0.0.7", "9000", "admin") + k9);
  EXPECT_FALSE(book().contains("Pa55word"));
  EXPECT_FALSE(exists(addressbook::tempPath()));
}

}  // namespace
