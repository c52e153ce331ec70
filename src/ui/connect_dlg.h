#pragma once
// "Remote Connection": asks for the DVR's address, port, user ID and password, pre-filled from the
// address book. The main window runs it for every Connect and reads the values after it ends;
// they persist until the next Connect, so saveConnection can store them later.
//
// UI thread only.
#include <QDialog>
#include <QString>

class QComboBox;
class QLineEdit;
class QPushButton;

class CConnectDlg : public QDialog {
  Q_OBJECT

 public:
  // Control ids; the two button ids are also the dialog's results.
  static constexpr int kAddressId = 1000;
  static constexpr int kPortId = 1001;
  static constexpr int kPasswordId = 1003;
  static constexpr int kConnectId = 1004;
  static constexpr int kCancelId = 1005;
  static constexpr int kUserIdId = 1007;

  explicit CConnectDlg(QWidget* parent = nullptr);

  // Values of the last Connect that passed the check.
  const QString& address() const { return address_; }
  int port() const { return port_; }
  const QString& userId() const { return userId_; }
  const QString& password() const { return password_; }

  // Empties the address of the last Connect: the name the main window shows at its top and puts
  // into its status texts. Port, user ID and password are kept. Until the next Connect,
  // saveConnection stores nothing. The next run still pre-fills its fields from the address book.
  void clearAddress() { address_.clear(); }

  // Stores the last Connect's address, port and user ID as the last-used entry of the address book
  // (never the password). Does nothing when the address is empty. True when the book was updated.
  bool saveConnection();

  // Empties the fields and fills them from the address book again. Runs each time the dialog is
  // shown.
  void initDialog();

  // The Connect and Cancel buttons.
  void onConnect();
  void onCancel();

  // Escape and the window's close button cancel, like Cancel.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void onAddressChosen(int index);
  void addSorted(const QString& address);

  QComboBox* addressList_;
  QLineEdit* portEdit_;
  QLineEdit* userIdEdit_;
  QLineEdit* passwordEdit_;
  QPushButton* connectButton_;
  QPushButton* cancelButton_;

  QString address_;
  int port_ = 0;
  QString userId_;
  QString password_;
};
