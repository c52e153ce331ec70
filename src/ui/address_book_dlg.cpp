#include "ui/address_book_dlg.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QShowEvent>
#include <QTreeWidget>

#include "platform/dialog_host.h"
#include "ui/address_book_file.h"
#include "ui/control_id.h"
#include "ui/dialog_units.h"

namespace {
const QString kSelectFirst = QStringLiteral("select address. please.");

template <typename T>
T* place(T* control, int x, int y, int width, int height) {
  control->setGeometry(dialogunits::toPixels(x, y, width, height));
  return control;
}

QLineEdit* makeEdit(QWidget* parent, int id, int x, int y) {
  auto* edit = place(new QLineEdit(parent), x, y, 70, 12);
  setControlId(edit, id);
  return edit;
}

QPushButton* makeButton(QWidget* parent, const QString& text, int id, int x, int y, int width) {
  auto* button = place(new QPushButton(text, parent), x, y, width, 13);
  setControlId(button, id);
  return button;
}

bool isListNavigationKey(int key) {
  return key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_Home || key == Qt::Key_End ||
         key == Qt::Key_PageUp || key == Qt::Key_PageDown || key == Qt::Key_Space;
}
}  // namespace

CAddressBookDlg::CAddressBookDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Address Book"));
  QFont dialogFont = font();
  dialogFont.setPointSize(8);
  setFont(dialogFont);
  setFixedSize(dialogunits::toPixels(137), dialogunits::toPixels(198));

  list_ = place(new QTreeWidget(this), 7, 7, 123, 63);
  setControlId(list_, kListId);
  list_->setColumnCount(2);
  list_->setHeaderLabels({QStringLiteral("No."), QStringLiteral("IP Address")});
  list_->setColumnWidth(0, 50);
  list_->setColumnWidth(1, 130);
  list_->headerItem()->setTextAlignment(0, Qt::AlignLeft | Qt::AlignVCenter);
  list_->header()->setSectionsClickable(false);
  list_->header()->setStretchLastSection(false);
  list_->setSortingEnabled(false);
  list_->setRootIsDecorated(false);
  list_->setItemsExpandable(false);
  list_->setUniformRowHeights(true);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);  // full-row selection
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->viewport()->installEventFilter(this);
  list_->installEventFilter(this);

  place(new QGroupBox(this), 7, 71, 123, 82)->lower();
  place(new QLabel(QStringLiteral("IP Address"), this), 13, 85, 40, 8);
  place(new QLabel(QStringLiteral("Port"), this), 14, 100, 39, 8);
  place(new QLabel(QStringLiteral("User ID"), this), 14, 115, 39, 8);
  addressEdit_ = makeEdit(this, kAddressId, 54, 83);
  portEdit_ = makeEdit(this, kPortId, 54, 98);
  userIdEdit_ = makeEdit(this, kUserIdId, 54, 113);
  addButton_ = makeButton(this, QStringLiteral("Add"), kAddId, 13, 133, 52);
  deleteButton_ = makeButton(this, QStringLiteral("Delete"), kDeleteId, 74, 133, 50);
  modifyButton_ = makeButton(this, QStringLiteral("Modify"), kModifyId, 7, 178, 35);
  addButton_->setDefault(true);  // Return in the edits adds

  setTabOrder(list_, addressEdit_);
  setTabOrder(addressEdit_, portEdit_);
  setTabOrder(portEdit_, userIdEdit_);
  setTabOrder(userIdEdit_, addButton_);
  setTabOrder(addButton_, deleteButton_);
  setTabOrder(deleteButton_, modifyButton_);

  connect(addButton_, &QPushButton::clicked, this, &CAddressBookDlg::onAdd);
  connect(deleteButton_, &QPushButton::clicked, this, &CAddressBookDlg::onDelete);
  connect(modifyButton_, &QPushButton::clicked, this, &CAddressBookDlg::onModify);
}

IBookFileOps& CAddressBookDlg::fileOps() const {
  return fileOps_ != nullptr ? *fileOps_ : realBookFileOps();
}

void CAddressBookDlg::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) initDialog();
  QDialog::showEvent(event);
}

void CAddressBookDlg::initDialog() {
  selectedRow_ = -1;
  fillList();
}

// Clicks anywhere in the list, and keyboard moves within it, choose a row as a click would.
bool CAddressBookDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_->viewport() && event->type() == QEvent::MouseButtonRelease) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton) {
      const QModelIndex hit = list_->indexAt(mouse->position().toPoint());
      onListClicked(hit.isValid() ? hit.row() : -1);
    }
  } else if (watched == list_ && event->type() == QEvent::KeyRelease) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (isListNavigationKey(key->key()) && list_->currentItem() != nullptr)
      onListClicked(list_->indexOfTopLevelItem(list_->currentItem()));
  }
  return QDialog::eventFilter(watched, event);
}

void CAddressBookDlg::fillList() {
  list_->clear();
  const std::vector<AddressEntry> entries = addressbook::loadEntries();
  for (size_t i = 1; i < entries.size(); ++i) {
    auto* row = new QTreeWidgetItem(list_, {QString::number(i), entries[i].address});
    row->setTextAlignment(0, Qt::AlignLeft | Qt::AlignVCenter);
    addressEdit_->setText(entries[i].address);
    portEdit_->setText(entries[i].port);
    userIdEdit_->setText(entries[i].userId);
  }
}

void CAddressBookDlg::onListClicked(int row) {
  QTreeWidgetItem* item = row >= 0 ? list_->topLevelItem(row) : nullptr;
  selectedRow_ = item != nullptr ? row : -1;
  if (item == nullptr) {
    list_->clearSelection();
    return;
  }
  const QString address = item->text(1);
  if (address.isEmpty()) return;
  if (const auto entry = addressbook::findEntry(address)) {
    addressEdit_->setText(entry->address);
    userIdEdit_->setText(entry->userId);
    portEdit_->setText(entry->port);
  }
}

void CAddressBookDlg::onAdd() {
  const QString address = addressEdit_->text();
  if (address.isEmpty()) return;
  // What was typed stays in the edits when the book couldn't be updated, so it can be retried.
  if (!addressbook::storeEntry(address, portEdit_->text(), userIdEdit_->text(), fileOps())) return;
  clearEdits();
  fillList();
}

void CAddressBookDlg::onDelete() {
  if (selectedRow_ == -1) {
    platform::showMessageBox(kSelectFirst, MessageIcon::Information, this);
    return;
  }
  QTreeWidgetItem* item = list_->topLevelItem(selectedRow_);
  const QString address = item != nullptr ? item->text(1) : QString();
  if (address.isEmpty() || !addressbook::removeEntry(address, fileOps())) {
    selectedRow_ = -1;
    return;
  }
  clearEdits();
  selectedRow_ = -1;
  fillList();
}

void CAddressBookDlg::onModify() {}

void CAddressBookDlg::clearEdits() {
  addressEdit_->clear();
  portEdit_->clear();
  userIdEdit_->clear();
}
