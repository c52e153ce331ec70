#include "app/run_outcome.h"

namespace {
// Reasons come from status texts, message boxes and library errors: kept to one line.
QString oneLine(QString text) {
  for (QChar& c : text) {
    if (c.category() == QChar::Other_Control) c = QLatin1Char(' ');
  }
  return text;
}
}  // namespace

void CRunOutcome::notConnected(const QString& reason) {
  if (connectReason_.isEmpty())
    connectReason_ = reason.isEmpty() ? QStringLiteral("the connection ended") : reason;
}

void CRunOutcome::outputFailed(const QString& option, const QString& path, const QString& reason) {
  if (outputFailedFor(option)) return;
  outputOptions_.append(option);
  outputReasons_.append(QStringLiteral("%1 %2: %3").arg(option, path, reason));
}

bool CRunOutcome::outputFailedFor(const QString& option) const {
  return outputOptions_.contains(option);
}

int CRunOutcome::exitStatus() const {
  // A run that never connected wrote nothing worth reporting apart: the connect is the cause.
  if (connectFailed()) return exit_status::kNotConnected;
  if (!outputReasons_.isEmpty()) return exit_status::kOutputFailed;
  return exit_status::kOk;
}

QString CRunOutcome::reasonLine() const {
  if (connectFailed()) return oneLine(QStringLiteral("not connected: ") + connectReason_);
  if (!outputReasons_.isEmpty()) {
    return oneLine(QStringLiteral("not written in full: ") +
                   outputReasons_.join(QStringLiteral("; ")));
  }
  return {};
}
