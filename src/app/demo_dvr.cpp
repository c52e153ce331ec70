#include "app/demo_dvr.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/prctl.h>

#include <csignal>

QString CDemoDvr::emulatorPath() {
  const QString fromEnvironment = qEnvironmentVariable("PELLOXVIEW_EMULATOR");
  if (!fromEnvironment.isEmpty()) return fromEnvironment;
  const QString dir = QCoreApplication::applicationDirPath();
  for (const QString& candidate : {dir + QStringLiteral("/dvr-emulator"),
                                   dir + QStringLiteral("/../tools/dvr-emulator/dvr-emulator")}) {
    if (QFileInfo(candidate).isExecutable()) return QFileInfo(candidate).canonicalFilePath();
  }
  return QStandardPaths::findExecutable(QStringLiteral("dvr-emulator"));
}

bool CDemoDvr::start(QString* error) {
  const QString program = emulatorPath();
  if (program.isEmpty()) {
    *error = QStringLiteral("the demo DVR program dvr-emulator was not found");
    return false;
  }
  process_ = std::make_unique<QProcess>();
  process_->setProgram(program);
  process_->setArguments(
      {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--user"),
       QString::fromLatin1(kUser), QStringLiteral("--password"), QString::fromLatin1(kPassword),
       QStringLiteral("--channels"), QStringLiteral("4"), QStringLiteral("--channel"),
       QStringLiteral("2:codec=mpeg4"), QStringLiteral("--no-stdin")});
  process_->setProcessChannelMode(QProcess::SeparateChannels);
  process_->setStandardErrorFile(QProcess::nullDevice());
  // The demo DVR never outlives the viewer.
  process_->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
  process_->start();
  if (!process_->waitForStarted(5000)) {
    *error = QStringLiteral("the demo DVR did not start: ") + process_->errorString();
    return false;
  }
  QByteArray output;
  const QDeadlineTimer deadline(15000);
  while (!deadline.hasExpired()) {
    if (!process_->waitForReadyRead(static_cast<int>(deadline.remainingTime()))) break;
    output += process_->readAllStandardOutput();
    const int at = output.indexOf("listening on ");
    const int end = output.indexOf('\n', at);
    if (at < 0 || end < 0) continue;
    const QString address = QString::fromLatin1(output.mid(at + 13, end - at - 13)).trimmed();
    const int colon = address.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    const uint port = address.mid(colon + 1).toUInt(&ok);
    if (colon <= 0 || !ok || port == 0 || port > 65535) break;
    host_ = address.left(colon);
    port_ = static_cast<uint16_t>(port);
    return true;
  }
  *error = QStringLiteral("the demo DVR did not report its port");
  return false;
}

CDemoDvr::~CDemoDvr() {
  if (!process_ || process_->state() == QProcess::NotRunning) return;
  process_->terminate();
  if (!process_->waitForFinished(3000)) {
    process_->kill();
    process_->waitForFinished(1000);
  }
}
