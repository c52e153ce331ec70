#pragma once
// "Address Book": lists the known addresses, shows an entry's address, port and user ID, and adds
// and deletes entries. The main window runs it modally; every run reads the book afresh.
//
// UI thread only.
#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;
class QTreeWidget;
class IBookFileOps;

class CAddressBookDlg : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kListId = 1065;
  static constexpr int kAddressId = 1066;
  static constexpr int kPortId = 1067;
  static constexpr int kUserIdId = 1068;
  static constexpr int kAddId = 1069;
  static constexpr int kModifyId = 1070;
  static constexpr int kDeleteId = 1071;

  explicit CAddressBookDlg(QWidget* parent = nullptr);

  // Row chosen in the list, -1 when none.
  int selectedRow() const { return selectedRow_; }

  // Clears the selection and fills the list from the book. Runs each time the dialog is shown.
  void initDialog();
  // Rebuilds the list from the book; the edits end up showing the last listed entry.
  void fillList();

  // A click in the list: the row hit, -1 for none.
  void onListClicked(int row);
  void onAdd();
  void onDelete();
  // Has no action.
  void onModify();

  // The file calls used by Add and Delete (the real ones unless a test sets others).
  void setFileOps(IBookFileOps* ops) { fileOps_ = ops; }

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void clearEdits();
  IBookFileOps& fileOps() const;

  QTreeWidget* list_;
  QLineEdit* addressEdit_;
  QLineEdit* portEdit_;
  QLineEdit* userIdEdit_;
  QPushButton* addButton_;
  QPushButton* deleteButton_;
  QPushButton* modifyButton_;

  int selectedRow_ = -1;
  IBookFileOps* fileOps_ = nullptr;
};
