#include "ui/connect_dlg.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

#include "platform/dialog_host.h"
#include "ui/address_book_file.h"
#include "ui/control_id.h"
#include "ui/dialog_units.h"

namespace {
const QString kMissingInput = QStringLiteral("input the connection information, please.");

template <typename T>
T* place(T* control, int x, int y, int width, int height) {
  control->setGeometry(dialogunits::toPixels(x, y, width, height));
  return control;
}

QLineEdit* makeEdit(QWidget* parent, int id, int x, int y, int width, int height) {
  auto* edit = place(new QLineEdit(parent), x, y, width, height);
  setControlId(edit, id);
  return edit;
}
}  // namespace

CConnectDlg::CConnectDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Remote Connection"));
  QFont dialogFont = font();
  dialogFont.setPointSize(8);
  setFont(dialogFont);
  setFixedSize(dialogunits::toPixels(137), dialogunits::toPixels(106));

  // The group box comes first so the controls drawn over it stay on top.
  place(new QGroupBox(QStringLiteral("DVR Connect"), this), 1, 1, 135, 85);
  place(new QLabel(QStringLiteral("IP Addr"), this), 8, 17, 28, 8);
  place(new QLabel(QStringLiteral("Port"), this), 8, 32, 28, 8);
  place(new QLabel(QStringLiteral("User ID"), this), 8, 49, 28, 8);
  place(new QLabel(QStringLiteral("Pass"), this), 8, 66, 28, 8);

  // The drop-down part of the classic 53-unit box is the popup; the field itself is one edit high.
  addressList_ = place(new QComboBox(this), 37, 15, 76, 12);
  addressList_->setEditable(true);
  addressList_->setInsertPolicy(QComboBox::NoInsert);  // typing never adds to the list
  addressList_->setCompleter(nullptr);                 // what is typed stays as typed
  addressList_->setMaxVisibleItems(5);
  setControlId(addressList_, kAddressId);
  portEdit_ = makeEdit(this, kPortId, 37, 31, 37, 12);
  userIdEdit_ = makeEdit(this, kUserIdId, 37, 48, 76, 12);
  passwordEdit_ = makeEdit(this, kPasswordId, 37, 65, 76, 12);
  passwordEdit_->setEchoMode(QLineEdit::Password);

  connectButton_ = place(new QPushButton(QStringLiteral("Connect"), this), 45, 90, 44, 12);
  setControlId(connectButton_, kConnectId);
  connectButton_->setDefault(true);  // Return connects
  cancelButton_ = place(new QPushButton(QStringLiteral("Cancel"), this), 92, 90, 44, 12);
  setControlId(cancelButton_, kCancelId);
  cancelButton_->setAutoDefault(false);

  setTabOrder(addressList_, portEdit_);
  setTabOrder(portEdit_, userIdEdit_);
  setTabOrder(userIdEdit_, passwordEdit_);
  setTabOrder(passwordEdit_, connectButton_);
  setTabOrder(connectButton_, cancelButton_);

  connect(addressList_, &QComboBox::activated, this, &CConnectDlg::onAddressChosen);
  connect(connectButton_, &QPushButton::clicked, this, &CConnectDlg::onConnect);
  connect(cancelButton_, &QPushButton::clicked, this, &CConnectDlg::onCancel);
}

void CConnectDlg::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) initDialog();
  QDialog::showEvent(event);
}

void CConnectDlg::initDialog() {
  addressList_->clear();
  addressList_->setEditText(QString());
  portEdit_->clear();
  userIdEdit_->clear();
  passwordEdit_->clear();

  const std::vector<AddressEntry> entries = addressbook::loadEntries();
  for (size_t i = 1; i < entries.size(); ++i) addSorted(entries[i].address);
  if (!entries.empty()) {
    const AddressEntry& lastUsed = entries.front();
    const int listed =
        addressList_->findText(lastUsed.address, Qt::MatchExactly | Qt::MatchCaseSensitive);
    addressList_->setCurrentIndex(listed);
    addressList_->setEditText(lastUsed.address);
    userIdEdit_->setText(lastUsed.userId);
    portEdit_->setText(lastUsed.port);
  } else {
    addressList_->setCurrentIndex(-1);
  }
  addressList_->setFocus();
}

// The list keeps itself sorted, case-insensitively, like a sorted drop-down list.
void CConnectDlg::addSorted(const QString& address) {
  int at = 0;
  while (at < addressList_->count() &&
         QString::compare(addressList_->itemText(at), address, Qt::CaseInsensitive) <= 0)
    ++at;
  addressList_->insertItem(at, address);
}

void CConnectDlg::onAddressChosen(int index) {
  const QString chosen = addressList_->itemText(index);
  if (chosen.isEmpty()) return;
  if (const auto entry = addressbook::findEntry(chosen)) {
    userIdEdit_->setText(entry->userId);
    portEdit_->setText(entry->port);
  }
}

void CConnectDlg::onConnect() {
  address_ = addressList_->currentText();
  userId_ = userIdEdit_->text();
  password_ = passwordEdit_->text();
  bool isNumber = false;
  port_ = portEdit_->text().trimmed().toInt(&isNumber, 10);
  if (!isNumber) port_ = 0;

  if (!address_.isEmpty() && !userId_.isEmpty() && !password_.isEmpty() && port_ != 0) {
    done(kConnectId);
    return;
  }
  platform::showMessageBox(kMissingInput, MessageIcon::Information, this);
}

void CConnectDlg::onCancel() {
  done(kCancelId);
}

void CConnectDlg::reject() {
  done(kCancelId);
}

bool CConnectDlg::saveConnection() {
  if (address_.isEmpty()) return false;
  return addressbook::storeEntry(address_, QString::number(port_), userId_);
}
