#include "platform/dialog_host.h"

#include <QCoreApplication>
#include <QDialog>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>

#include <atomic>
#include <mutex>

#include "platform/message_window.h"

void CQtDialogHost::messageBox(QWidget* parent, const QString& text, MessageIcon icon) {
  QMessageBox box(
      icon == MessageIcon::Exclamation ? QMessageBox::Warning : QMessageBox::Information,
      QCoreApplication::applicationName(), text, QMessageBox::Ok, parent);
  box.exec();
}

int CQtDialogHost::execDialog(QDialog& dialog) {
  return dialog.exec();
}

void CRecordingDialogHost::messageBox(QWidget*, const QString& text, MessageIcon icon) {
  std::lock_guard lock(mutex_);
  messages_.push_back({text, icon});
}

int CRecordingDialogHost::execDialog(QDialog& dialog) {
  {
    std::lock_guard lock(mutex_);
    ++dialogs_;
  }
  return answerDialog ? answerDialog(dialog) : QDialog::Rejected;
}

std::vector<CRecordingDialogHost::Shown> CRecordingDialogHost::messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

void CRecordingDialogHost::clear() {
  std::lock_guard lock(mutex_);
  messages_.clear();
  dialogs_ = 0;
}

int CRecordingDialogHost::dialogsShown() const {
  std::lock_guard lock(mutex_);
  return dialogs_;
}

namespace {
std::atomic<IDialogHost*> currentHost{nullptr};

void showThroughHost(const QString& text, MessageIcon icon) {
  platform::showMessageBox(text, icon);
}

// Any program that has a dialog host shows the window-free layers' messages in its boxes.
[[maybe_unused]] const bool handlerInstalled =
    (platform::setUserMessageHandler(&showThroughHost), true);
}  // namespace

namespace platform {

IDialogHost& dialogHost() {
  static CQtDialogHost qtHost;
  IDialogHost* host = currentHost.load();
  return host != nullptr ? *host : qtHost;
}

void setDialogHost(IDialogHost* host) {
  currentHost.store(host);
  platform::setUserMessageHandler(&showThroughHost);
}

void showMessageBox(const QString& text, MessageIcon icon, QWidget* parent) {
  if (isUiThread()) {
    dialogHost().messageBox(parent, text, icon);
    return;
  }
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) return;
  QPointer<QWidget> guardedParent(parent);
  // Queued under a mutex the UI thread takes before it runs the box: ThreadSanitizer can't see
  // Qt's own queue lock, so this makes the hand-over of the copied text visible.
  static std::mutex handOver;
  std::lock_guard lock(handOver);
  QMetaObject::invokeMethod(
      app,
      [text, icon, guardedParent] {
        { std::lock_guard taken(handOver); }
        dialogHost().messageBox(guardedParent, text, icon);
      },
      Qt::QueuedConnection);
}

}  // namespace platform
