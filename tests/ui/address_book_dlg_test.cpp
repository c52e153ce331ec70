#include "ui/address_book_dlg.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include "dialog_fixture.h"
#include "ui/book_file_ops.h"
#include "ui/control_id.h"

namespace {

const QString kSelectFirst = "select address. please.";
const QByteArray k5 = recordBytes("10.0.0.5", "9000", "admin");
const QByteArray k5New = recordBytes("10.0.0.5", "9100", "admin");
const QByteArray k7 = recordBytes("10.0.0.7", "9000", "admin");

// Real file calls, except that the temporary file can't be created.
class NoTempFileOps final : public IBookFileOps {
 public:
  int createEmpty(const std::string&) override { return -1; }
  bool write(int, const uint8_t*, size_t) override { return false; }
  bool flush(int) override { return false; }
  bool close(int) override { return false; }
  bool rename(const std::string&, const std::string&) override { return false; }
  void remove(const std::string&) override {}
};

class AddressBookDialog : public DialogFixture {
 protected:
  QTreeWidget* list() { return findControl<QTreeWidget>(&dialog_, CAddressBookDlg::kListId); }
  QLineEdit* addressEdit() { return findControl<QLineEdit>(&dialog_, CAddressBookDlg::kAddressId); }
  QLineEdit* portEdit() { return findControl<QLineEdit>(&dialog_, CAddressBookDlg::kPortId); }
  QLineEdit* userEdit() { return findControl<QLineEdit>(&dialog_, CAddressBookDlg::kUserIdId); }
  QPushButton* button(int id) { return findControl<QPushButton>(&dialog_, id); }

  // Rows as "number address".
  QStringList rows() {
    QStringList result;
    for (int i = 0; i < list()->topLevelItemCount(); ++i)
      result << list()->topLevelItem(i)->text(0) + " " + list()->topLevelItem(i)->text(1);
    return result;
  }
  QStringList edits() { return {addressEdit()->text(), portEdit()->text(), userEdit()->text()}; }

  void clickRow(int row) {
    const QRect rect = list()->visualItemRect(list()->topLevelItem(row));
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, rect.center());
  }
  void clickBelowRows() {
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {},
                      QPoint(5, list()->viewport()->height() - 3));
  }
  void fillEdits(const QString& address, const QString& port, const QString& user) {
    typeInto(addressEdit(), address);
    typeInto(portEdit(), port);
    typeInto(userEdit(), user);
  }

  CAddressBookDlg dialog_;
};

TEST_F(AddressBookDialog, HasTheLayoutsControlsAndTexts) {
  EXPECT_EQ(dialog_.windowTitle(), "Address Book");
  ASSERT_NE(list(), nullptr);
  EXPECT_EQ(list()->headerItem()->text(0), "No.");
  EXPECT_EQ(list()->headerItem()->text(1), "IP Address");
  EXPECT_EQ(list()->columnWidth(0), 50);
  EXPECT_EQ(list()->columnWidth(1), 130);
  EXPECT_EQ(list()->selectionMode(), QAbstractItemView::SingleSelection);
  EXPECT_EQ(list()->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_FALSE(list()->header()->sectionsClickable());
  EXPECT_EQ(button(CAddressBookDlg::kAddId)->text(), "Add");
  EXPECT_EQ(button(CAddressBookDlg::kDeleteId)->text(), "Delete");
  EXPECT_EQ(button(CAddressBookDlg::kModifyId)->text(), "Modify");
  QStringList labels;
  for (const auto* label : dialog_.findChildren<QLabel*>()) labels << label->text();
  EXPECT_EQ(labels, (QStringList{"IP Address", "Port", "User ID"}));
  EXPECT_EQ(dialog_.findChildren<QGroupBox*>().size(), 1);
  EXPECT_EQ(dialog_.size(), QSize(240, 347));
}

TEST_F(AddressBookDialog, ListsTheKnownAddressesAndShowsTheLastOne) {
  setBook(k5New + k5 + k7);
  showAndActivate(dialog_);
  EXPECT_EQ(dialog_.selectedRow(), -1);
  EXPECT_EQ(rows(), (QStringList{"1 10.0.0.5", "2 10.0.0.7"}));
  EXPECT_EQ(edits(), (QStringList{"10.0.0.7", "9000", "admin"}));
}

TEST_F(AddressBookDialog, AnEmptyBookListsNothingAndLeavesTheEdits) {
  showAndActivate(dialog_);
  EXPECT_EQ(list()->topLevelItemCount(), 0);
  EXPECT_EQ(edits(), (QStringList{"", "", ""}));
}

TEST_F(AddressBookDialog, ClickingARowShowsItsFirstRecordAndClickingBesideClearsTheSelection) {
  setBook(k5New + k5 + k7);
  showAndActivate(dialog_);
  clickRow(0);
  EXPECT_EQ(dialog_.selectedRow(), 0);
  EXPECT_EQ(edits(), (QStringList{"10.0.0.5", "9100", "admin"}));  // record 0 is found first
  clickRow(1);
  EXPECT_EQ(dialog_.selectedRow(), 1);
  EXPECT_EQ(edits(), (QStringList{"10.0.0.7", "9000", "admin"}));
  clickBelowRows();
  EXPECT_EQ(dialog_.selectedRow(), -1);

  // The keyboard chooses rows too.
  list()->setFocus();
  list()->setCurrentItem(list()->topLevelItem(1));
  QTest::keyClick(list(), Qt::Key_Up);
  EXPECT_EQ(dialog_.selectedRow(), 0);
  EXPECT_EQ(edits(), (QStringList{"10.0.0.5", "9100", "admin"}));
}

TEST_F(AddressBookDialog, AddStoresTheEntryAndRefillsTheList) {
  showAndActivate(dialog_);
  fillEdits("10.0.0.5", "9000", "admin");
  QTest::mouseClick(button(CAddressBookDlg::kAddId), Qt::LeftButton);
  EXPECT_EQ(book(), k5 + k5);
  EXPECT_EQ(rows(), QStringList{"1 10.0.0.5"});
  fillEdits("10.0.0.7", "9000", "admin");
  QTest::keyClick(userEdit(), Qt::Key_Return);  // Return in the edits adds
  EXPECT_EQ(book(), k7 + k5 + k7);
  EXPECT_EQ(rows(), (QStringList{"1 10.0.0.5", "2 10.0.0.7"}));
  EXPECT_TRUE(dialog_.isVisible());
}

TEST_F(AddressBookDialog, AddWithAnEmptyAddressChangesNothing) {
  setBook(k7 + k7);
  showAndActivate(dialog_);
  fillEdits("", "9000", "admin");
  QTest::mouseClick(button(CAddressBookDlg::kAddId), Qt::LeftButton);
  EXPECT_EQ(book(), k7 + k7);
  EXPECT_EQ(edits(), (QStringList{"", "9000", "admin"}));
}

TEST_F(AddressBookDialog, DeleteWithoutASelectionAsksForOneAndLeavesTheBook) {
  setBook(k7 + k5 + k7);
  showAndActivate(dialog_);
  QTest::mouseClick(button(CAddressBookDlg::kDeleteId), Qt::LeftButton);
  ASSERT_EQ(host_.messages().size(), 1u);
  EXPECT_EQ(host_.messages().front().text, kSelectFirst);
  EXPECT_EQ(host_.messages().front().icon, MessageIcon::Information);
  EXPECT_EQ(book(), k7 + k5 + k7);
  EXPECT_EQ(rows().size(), 2);
}

TEST_F(AddressBookDialog, DeleteRemovesTheSelectedAddressAndRefillsTheList) {
  setBook(k5New + k5 + k7);
  showAndActivate(dialog_);
  clickRow(0);
  QTest::mouseClick(button(CAddressBookDlg::kDeleteId), Qt::LeftButton);
  EXPECT_TRUE(host_.messages().empty());
  EXPECT_EQ(book(), k7 + k7);
  EXPECT_EQ(dialog_.selectedRow(), -1);
  EXPECT_EQ(rows(), QStringList{"1 10.0.0.7"});
  EXPECT_EQ(edits(), (QStringList{"10.0.0.7", "9000", "admin"}));

  clickRow(0);
  QTest::mouseClick(button(CAddressBookDlg::kDeleteId), Qt::LeftButton);
  EXPECT_EQ(book().size(), 0);
  EXPECT_EQ(rows(), QStringList{});
  EXPECT_EQ(edits(), (QStringList{"", "", ""}));
}

TEST_F(AddressBookDialog, WhenTheTemporaryFileCanNotBeMadeNothingChanges) {
  NoTempFileOps noTemp;
  dialog_.setFileOps(&noTemp);
  setBook(k7 + k5 + k7);
  showAndActivate(dialog_);

  clickRow(0);
  QTest::mouseClick(button(CAddressBookDlg::kDeleteId), Qt::LeftButton);
  EXPECT_EQ(dialog_.selectedRow(), -1);
  EXPECT_EQ(rows(), (QStringList{"1 10.0.0.5", "2 10.0.0.7"}));

  fillEdits("10.0.0.9", "80", "guest");
  QTest::mouseClick(button(CAddressBookDlg::kAddId), Qt::LeftButton);
  EXPECT_EQ(book(), k7 + k5 + k7);
  EXPECT_EQ(edits(), (QStringList{"10.0.0.9", "80", "guest"}));  // kept for another try
}

TEST_F(AddressBookDialog, ModifyDoesNothing) {
  setBook(k7 + k5 + k7);
  showAndActivate(dialog_);
  clickRow(0);
  fillEdits("10.0.0.5", "1", "x");
  QTest::mouseClick(button(CAddressBookDlg::kModifyId), Qt::LeftButton);
  EXPECT_EQ(book(), k7 + k5 + k7);
  EXPECT_EQ(dialog_.selectedRow(), 0);
  EXPECT_TRUE(host_.messages().empty());
}

}  // namespace
