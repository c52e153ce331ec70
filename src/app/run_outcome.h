#pragma once
// What a run achieved, and the exit status that tells a script about it: a connect run that
// never reached "Connected." and an output that was not written in full end non-zero, each with
// one line on standard error.
//
// UI thread only.
#include <QString>
#include <QStringList>

namespace exit_status {
inline constexpr int kOk = 0;
inline constexpr int kFailed = 1;        // no display for an interactive run, no demo DVR
inline constexpr int kBadOptions = 2;    // the command line, before anything runs
inline constexpr int kNotConnected = 3;  // a connect run never reached "Connected."
inline constexpr int kOutputFailed = 4;  // --record, --screenshot or --audio-out not in full
}  // namespace exit_status

class CRunOutcome {
 public:
  // The connect never reached "Connected."; the first reason is the one reported.
  void notConnected(const QString& reason);
  // An output the command line asked for (its option and path) was not written in full.
  void outputFailed(const QString& option, const QString& path, const QString& reason);

  bool connectFailed() const { return !connectReason_.isEmpty(); }
  bool outputFailedFor(const QString& option) const;
  int exitStatus() const;
  // One line for standard error (without the program's name); empty when all went well.
  QString reasonLine() const;

 private:
  QString connectReason_;
  QStringList outputOptions_;
  QStringList outputReasons_;
};
