#pragma once
// The one seam through which message boxes and modal dialogs are shown, so tests can answer them.
#include <QString>

#include <functional>
#include <mutex>
#include <vector>

#include "platform/user_message.h"

class QDialog;
class QWidget;

class IDialogHost {
 public:
  virtual ~IDialogHost() = default;
  // Shows the text with an OK button and returns when it is dismissed. UI thread only.
  virtual void messageBox(QWidget* parent, const QString& text, MessageIcon icon) = 0;
  // Runs the dialog modally and returns its result code (QDialog::Accepted or Rejected).
  virtual int execDialog(QDialog& dialog) = 0;
};

// The real thing: QMessageBox and QDialog::exec.
class CQtDialogHost final : public IDialogHost {
 public:
  void messageBox(QWidget* parent, const QString& text, MessageIcon icon) override;
  int execDialog(QDialog& dialog) override;
};

// For tests: records every message box and answers dialogs with a function of the test's choice
// (by default it rejects them without showing them). Safe to read from any thread.
class CRecordingDialogHost final : public IDialogHost {
 public:
  struct Shown {
    QString text;
    MessageIcon icon;
  };

  void messageBox(QWidget* parent, const QString& text, MessageIcon icon) override;
  int execDialog(QDialog& dialog) override;

  std::vector<Shown> messages() const;
  void clear();
  // Called with each dialog instead of exec(); may fill it in and must return its result.
  std::function<int(QDialog&)> answerDialog;
  int dialogsShown() const;

 private:
  mutable std::mutex mutex_;
  std::vector<Shown> messages_;
  int dialogs_ = 0;
};

namespace platform {
// The host in use: the one set last, else a CQtDialogHost.
IDialogHost& dialogHost();
// Replaces the host (nullptr restores the Qt one); the caller keeps it alive while it is set.
void setDialogHost(IDialogHost* host);

// Shows a message box from any thread. On the UI thread it returns when the box is dismissed;
// from another thread it is handed to the UI thread and the call returns at once, so a receive
// thread never blocks on the user.
void showMessageBox(const QString& text, MessageIcon icon = MessageIcon::Information,
                    QWidget* parent = nullptr);
}  // namespace platform
