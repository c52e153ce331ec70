#pragma once
// SIGINT, SIGTERM and SIGHUP end the viewer the way closing its window does: the handler only
// writes the signal's number into a pipe, and the UI thread reads it through a socket notifier
// and runs onQuit. A second signal ends the process at once (the default action).
//
// One instance at a time; create and destroy it on the UI thread, after the application object.
#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

class CQuitSignals final : public QObject {
  Q_OBJECT

 public:
  // Installs the handlers; onQuit runs on the UI thread for the first signal only.
  explicit CQuitSignals(std::function<void()> onQuit);
  ~CQuitSignals() override;  // the previous handlers come back
  CQuitSignals(const CQuitSignals&) = delete;
  CQuitSignals& operator=(const CQuitSignals&) = delete;

  // False when the pipe or a handler could not be set up (the signals then keep their default).
  bool installed() const { return installed_; }

 private:
  void readPipe();

  std::function<void()> onQuit_;
  int pipe_[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> notifier_;
  bool installed_ = false;
  bool quitting_ = false;
};
