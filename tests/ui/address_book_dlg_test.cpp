#include "ui/address_book_dlg.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include "book_fixture.h"
#include "ui/control_id.h"

namespace {

const QString kSelectFirst = "select address. please.";

class AddressBookDialog : public DialogFixture {
 protected:
  QTreeWidget* list() { return findControl<QTreeWidget>(&dialog_, CAddressBookDlg::kListId); }
  QLineEdit* edit(int id) { return findControl<QLineEdit>(&dialog_, id); }
  QPushButton* button(int id) { return findControl<QPushButton>(&dialog_, id); }

  // Rows as "number address".
  QStringList rows() {
    QStringList result;
    for (int i = 0; i < list()->topLevelItemCount(); ++i)
      result << list()->topLevelItem(i)->text(0) + " " + list()->topLevelItem(i)->text(1);
    return result;
  }
  static constexpr int kEdits[] = {CAddressBookDlg::kAddressId, CAddressBookDlg::kPortId,
                                   CAddressBookDlg::kUserIdId};
  QStringList edits() {
    QStringList texts;
    for (int id : kEdits) texts << edit(id)->text();
    return texts;
  }
  void fillEdits(const QString& address, const QString& port, const QString& user) {
    for (const auto& [id, text] :
         {std::pair{kEdits[0], address}, {kEdits[1], port}, {kEdits[2], user}})
      typeInto(edit(id), text);
  }
  void clickRow(int row) {
    const QRect rect = list()->visualItemRect(list()->topLevelItem(row));
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, rect.center());
  }
  void click(int buttonId) { QTest::mouseClick(button(buttonId), Qt::LeftButton); }
  void showWithBook(const QByteArray& bytes) {
    setBook(bytes);
    showAndActivate(dialog_);
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
  EXPECT_EQ(textsOf<QLabel>(dialog_), (QStringList{"IP Address", "Port", "User ID"}));
  EXPECT_EQ(dialog_.findChildren<QGroupBox*>().size(), 1);
  EXPECT_EQ(dialog_.size(), QSize(240, 347));
}

TEST_F(AddressBookDialog, ListsTheAddressesAndChoosingARowShowsItsFirstRecord) {
  showAndActivate(dialog_);  // an empty book lists nothing and leaves the edits
  EXPECT_EQ(list()->topLevelItemCount(), 0);
  EXPECT_EQ(edits(), (QStringList{"", "", ""}));
  dialog_.hide();

  showWithBook(k5New + k5 + k7);
  EXPECT_EQ(dialog_.selectedRow(), -1);
  EXPECT_EQ(rows(), (QStringList{"1 10.0.0.5", "2 10.0.0.7"}));
  EXPECT_EQ(edits(), (QStringList{"10.0.0.7", "9000", "admin"}));
  clickRow(0);
  EXPECT_EQ(dialog_.selectedRow(), 0);
  EXPECT_EQ(edits(), (QStringList{"10.0.0.5", "9100", "admin"}));  // record 0 is found first
  clickRow(1);
  EXPECT_EQ(dialog_.selectedRow(), 1);
  EXPECT_EQ(edits(), (QStringList{"10.0.0.7", "9000", "admin"}));
  // A click below the rows clears the selection.
  QTest::mouseClick(list()->viewport(), Qt::LeftButton, {},
                    QPoint(5, list()->viewport()->height() - 3));
  EXPECT_EQ(dialog_.selectedRow(), -1);

  // The keyboard chooses rows too.
  list()->setFocus();
  list()->setCurrentItem(list()->topLevelItem(1));
  QTest::keyClick(list(), Qt::Key_Up);
  EXPECT_EQ(dialog_.selectedRow(), 0);
  EXPECT_EQ(edits(), (QStringList{"10.0.0.5", "9100", "admin"}));
}

TEST_F(AddressBookDialog, AddStoresTheEntryAndRefillsTheListButNotWithAnEmptyAddress) {
  showAndActivate(dialog_);
  fillEdits("", "9000", "admin");
  click(CAddressBookDlg::kAddId);
  EXPECT_FALSE(exists(addressbook::bookPath()));
  EXPECT_EQ(edits(), (QStringList{"", "9000", "admin"}));

  fillEdits("10.0.0.5", "9000", "admin");
  click(CAddressBookDlg::kAddId);
  EXPECT_EQ(book(), k5 + k5);
  EXPECT_EQ(rows(), QStringList{"1 10.0.0.5"});
  fillEdits("10.0.0.7", "9000", "admin");
  QTest::keyClick(edit(CAddressBookDlg::kUserIdId), Qt::Key_Return);  // Return in the edits adds
  EXPECT_EQ(book(), k7 + k5 + k7);
  EXPECT_EQ(rows(), (QStringList{"1 10.0.0.5", "2 10.0.0.7"}));
  fillEdits("", "1", "x");
  click(CAddressBookDlg::kAddId);
  EXPECT_EQ(book(), k7 + k5 + k7);
  EXPECT_TRUE(dialog_.isVisible());
  expectBoxes(0, {});
}

TEST_F(AddressBookDialog, DeleteNeedsASelectionThenRemovesItAndRefillsTheList) {
  showWithBook(k5New + k5 + k7);
  click(CAddressBookDlg::kDeleteId);
  expectBoxes(1, kSelectFirst);
  EXPECT_EQ(book(), k5New + k5 + k7);
  EXPECT_EQ(rows().size(), 2);

  clickRow(0);
  click(CAddressBookDlg::kDeleteId);
  expectBoxes(1, kSelectFirst);
  EXPECT_EQ(book(), k7 + k7);
  EXPECT_EQ(dialog_.selectedRow(), -1);
  EXPECT_EQ(rows(), QStringList{"1 10.0.0.7"});
  EXPECT_EQ(edits(), (QStringList{"10.0.0.7", "9000", "admin"}));

  clickRow(0);
  click(CAddressBookDlg::kDeleteId);
  EXPECT_EQ(book().size(), 0);
  EXPECT_EQ(rows(), QStringList{});
  EXPECT_EQ(edits(), (QStringList{"", "", ""}));
}

TEST_F(AddressBookDialog, ModifyAndUpdatesThatCanNotMakeTheTemporaryFileChangeNothing) {
  showWithBook(k7 + k5 + k7);
  clickRow(0);
  fillEdits("10.0.0.5", "1", "x");
  click(CAddressBookDlg::kModifyId);
  EXPECT_EQ(book(), k7 + k5 + k7);
  EXPECT_EQ(dialog_.selectedRow(), 0);

  FaultyFileOps noTemp(Step::Create);
  dialog_.setFileOps(&noTemp);
  click(CAddressBookDlg::kDeleteId);
  EXPECT_EQ(dialog_.selectedRow(), -1);
  EXPECT_EQ(rows(), (QStringList{"1 10.0.0.5", "2 10.0.0.7"}));

  fillEdits("10.0.0.9", "80", "guest");
  click(CAddressBookDlg::kAddId);
  EXPECT_EQ(book(), k7 + k5 + k7);
  EXPECT_EQ(edits(), (QStringList{"10.0.0.9", "80", "guest"}));  // kept for another try
  expectBoxes(0, {});
}

}  // namespace
