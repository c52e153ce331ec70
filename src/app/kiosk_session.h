#pragma once
// A run driven from the command line: connects at start through the same Connect path a user
// takes, then presses the channel button, switches audio on, tours the channels, goes full
// screen, and at the quit time saves a screenshot and closes the window. Status texts and
// message boxes can be logged; boxes never block such a run. A connect that never reaches
// "Connected." and a screenshot that can't be saved go into the run's outcome; the first ends
// the run at once. With --reconnect, a session that ends by itself is connected again after a
// growing wait, and what it showed comes back.
#include <QDeadlineTimer>
#include <QDialog>
#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/run_outcome.h"
#include "platform/dialog_host.h"
#include "session/reconnect_policy.h"

class CPictureWriter;
class CViewerDlg;
class QMessageBox;

class CKioskSession final : public QObject, public IDialogHost {
  Q_OBJECT

 public:
  struct Target {
    QString host;  // empty: no connect at start
    uint16_t port = 0;
    QString user;
    QString password;
  };

  CKioskSession(CViewerDlg& window, const CommandLineOptions& options, Target target,
                CRunOutcome& outcome);
  ~CKioskSession() override;

  // Installs itself as the dialog host and starts the connect (if any) and the quit timer.
  void start();
  // Ends the run now the way the quit time does (screenshot, orderly close), never with another
  // Connect: a termination signal.
  void endRun();

  // IDialogHost.
  void messageBox(QWidget* parent, const QString& text, MessageIcon icon) override;
  int execDialog(QDialog& dialog) override;

  const QStringList& statusTexts() const { return statusTexts_; }
  const QStringList& messages() const { return messages_; }
  // Waits for the screenshot's file (up to kScreenshotWaitMs after the quit time in all) and
  // records how it went; a file still being written then is abandoned and counts as failed.
  void finishScreenshot();
  // Where the screenshot was saved, empty when none was.
  const QString& screenshotPath() const { return screenshotPath_; }

 private:
  void onConnected();
  // The kiosk's own Connect to the target (the Connect dialog is answered with it).
  void pressConnect();
  void showView();
  void onSessionEnding(SessionEnd reason, int16_t loginStatus);
  void afterSessionEnded(SessionEnd reason, int16_t loginStatus);
  void onConnectionCommand();
  void reconnectTick();
  void cancelReconnectWait();
  void tourStep();
  void tryFullScreen();
  void tryCameraMove();
  void quit();
  void stopSteps();
  void saveScreenshot();
  static constexpr qint64 kScreenshotWaitMs = 3000;
  void closeWindow();
  void checkConnect();
  void wipePassword();
  void reconnectWhenIdle();
  void reconnectDone(bool ok);
  void log(const QString& line) const;

  CViewerDlg& window_;
  const CommandLineOptions options_;
  Target target_;
  CRunOutcome& outcome_;
  bool connectPending_ = false;
  bool connectStarted_ = false;  // the first Connect went out (its client exists or it failed)
  bool connectedOnce_ = false;
  bool ending_ = false;   // the window is being closed
  QTimer connectWatch_;   // until "Connected.": did the attempt end without it?
  QString firstMessage_;  // the first message box of the first Connect
  CQtDialogHost realHost_;
  std::vector<QPointer<QDialog>> openDialogs_;  // run by realHost_, outermost first
  QTimer tourTimer_;
  QTimer fullScreenTimer_;
  QTimer cameraTimer_;
  uint64_t framesMark_ = 0;  // display frames drawn one second before the quit (--diagnostics)  //
                             // --move-camera: waits for the first picture
  QStringList statusTexts_;
  QStringList messages_;
  QString screenshotPath_;
  std::unique_ptr<CPictureWriter> screenshotWriter_;  // from the quit time until finishScreenshot
  QElapsedTimer screenshotStarted_;
  // --connect-again: 0 not yet, 1 waiting for the first session to end, 2 connecting again,
  // 3 done. UI thread.
  int reconnectStage_ = 0;
  QElapsedTimer reconnectClock_;
  QTimer reconnectTimer_;

  // --reconnect (UI thread). What the next "Connected." brings back: from the options, then what
  // the last session that reached "Connected." showed when it ended.
  struct View {
    int channel = 0;  // 1..16, 0: none
    bool audio = false;
    bool fullScreen = false;
    std::string recording;  // the path of the recording that ran, empty: none
  };
  View wanted_;
  CReconnectPolicy policy_;
  bool ownSession_ = false;    // the attempt or session under way is the kiosk's, to the target
  bool ownCommand_ = false;    // the Connect being sent is the kiosk's own
  bool reconnecting_ = false;  // a reconnect's Connect went out; its "Connected." restores
  bool endPending_ = false;    // a session ended; the wait is decided once its teardown is over
  int waitAttempt_ = 0;
  QDeadlineTimer waitDeadline_;
  QTimer countdownTimer_;
  QPointer<QMessageBox> lastBox_;  // a retried refusal's box is not stacked again and again
};
