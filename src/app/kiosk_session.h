#pragma once
// A run driven from the command line: connects at start through the same Connect path a user
// takes, then presses the channel button, switches audio on, tours the channels, goes full
// screen, and at the quit time saves a screenshot and closes the window. Status texts and
// message boxes can be logged; boxes never block such a run.
#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <string>

#include "app/command_line.h"
#include "platform/dialog_host.h"

class CViewerDlg;

class CKioskSession final : public QObject, public IDialogHost {
  Q_OBJECT

 public:
  struct Target {
    QString host;  // empty: no connect at start
    uint16_t port = 0;
    QString user;
    QString password;
  };

  CKioskSession(CViewerDlg& window, const CommandLineOptions& options, Target target);
  ~CKioskSession() override;

  // Installs itself as the dialog host and starts the connect (if any) and the quit timer.
  void start();

  // IDialogHost.
  void messageBox(QWidget* parent, const QString& text, MessageIcon icon) override;
  int execDialog(QDialog& dialog) override;

  const QStringList& statusTexts() const { return statusTexts_; }
  const QStringList& messages() const { return messages_; }
  // Where the screenshot was saved, empty when none was.
  const QString& screenshotPath() const { return screenshotPath_; }

 private:
  void onConnected();
  void tourStep();
  void tryFullScreen();
  void tryCameraMove();
  void quit();
  void closeWindow();
  void reconnectWhenIdle();
  void reconnectDone(bool ok);
  void log(const QString& line) const;
  bool saveScreenshot(const QImage& image, const QString& path) const;

  CViewerDlg& window_;
  const CommandLineOptions options_;
  Target target_;
  bool connectPending_ = false;
  bool connectedOnce_ = false;
  CQtDialogHost realHost_;
  QTimer tourTimer_;
  QTimer fullScreenTimer_;
  QTimer cameraTimer_;
  uint64_t framesMark_ = 0;  // display frames drawn one second before the quit (--diagnostics)  //
                             // --move-camera: waits for the first picture
  QStringList statusTexts_;
  QStringList messages_;
  QString screenshotPath_;
  // --connect-again: 0 not yet, 1 waiting for the first session to end, 2 connecting again,
  // 3 done. UI thread.
  int reconnectStage_ = 0;
  QElapsedTimer reconnectClock_;
  QTimer reconnectTimer_;
};
