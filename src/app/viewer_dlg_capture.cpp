// Snapshots and recordings of the live picture, through the tap on the frame path.
#include <QDateTime>
#include <QDir>
#include <QStandardPaths>

#include "app/viewer_dlg.h"
#include "platform/messages.h"
#include "recording/live_tap.h"

namespace {
// File names keep to letters, digits, dots and dashes whatever the DVR's address looks like.
QString safeName(const QString& text) {
  QString name;
  for (const QChar c : text) {
    name += (c.isLetterOrNumber() && c.unicode() < 128) || c == '.' || c == '-' ? c : QChar('_');
  }
  return name.isEmpty() ? QStringLiteral("DVR") : name;
}
}  // namespace

QString CViewerDlg::captureFolder(bool video) const {
  QString folder = services_.captureDirectory;
  if (folder.isEmpty()) {
    folder = QStandardPaths::writableLocation(video ? QStandardPaths::MoviesLocation
                                                    : QStandardPaths::PicturesLocation);
  }
  if (folder.isEmpty()) folder = QDir::homePath();
  QDir().mkpath(folder);
  return folder;
}

// "<DVR>-ch<NN>-<yyyyMMdd-HHmmss>.<extension>" in the folder for its kind.
QString CViewerDlg::captureFileName(bool video) const {
  const QString name =
      QStringLiteral("%1-ch%2-%3.%4")
          .arg(safeName(addressText()))
          .arg(shownChannel_ + 1, 2, 10, QLatin1Char('0'))
          .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")))
          .arg(video ? QStringLiteral("mkv") : QStringLiteral("png"));
  return QDir(captureFolder(video)).filePath(name);
}

void CViewerDlg::takeSnapshot() {
  const QImage picture = shownChannel_ >= 0 && liveTap_ ? liveTap_->snapshot() : QImage();
  if (picture.isNull()) {
    setStatusText(QStringLiteral("No picture to save."));
    return;
  }
  const QString path = captureFileName(false);
  setStatusText(picture.save(path, "PNG") ? QStringLiteral("Saved %1").arg(path)
                                          : QStringLiteral("Can't save %1").arg(path));
  if (onCapture) onCapture(path);
}

void CViewerDlg::toggleRecording() {
  if (liveTap_ && liveTap_->recording()) {
    stopRecording();
    return;
  }
  if (shownChannel_ < 0 || !liveTap_) {
    setStatusText(QStringLiteral("No picture to record."));
    return;
  }
  startRecordingTo(captureFileName(true).toStdString());
}

void CViewerDlg::startRecordingTo(const std::string& path) {
  std::string error;
  const QString shown = QString::fromStdString(path);
  if (liveTap_->startRecording(path, &error)) {
    setStatusText(QStringLiteral("Recording %1").arg(shown));
  } else {
    setStatusText(QStringLiteral("Can't record %1: %2").arg(shown, QString::fromStdString(error)));
  }
}

// Ends a recording (a channel switch, a teardown, R): the file is closed cleanly.
void CViewerDlg::stopRecording() {
  if (!liveTap_ || !liveTap_->recording()) return;
  const QString path = QString::fromStdString(liveTap_->recordingPath());
  liveTap_->stopRecording();
  setStatusText(QStringLiteral("Saved %1").arg(path));
  if (onCapture) onCapture(path);
}

void CViewerDlg::recordOnNextPicture(const std::string& path) {
  pendingRecordPath_ = path;
}

// The writer thread ended a recording on its own (another picture size or codec, a full disk).
void CViewerDlg::onRecordingEnded() {
  if (!liveTap_ || liveTap_->recording()) return;
  const recording::RecordingStats stats = liveTap_->recordingStats();
  if (stats.path.empty() || reportedRecording_ == stats.path) return;
  reportedRecording_ = stats.path;
  setStatusText(
      stats.error.empty()
          ? QStringLiteral("Saved %1").arg(QString::fromStdString(stats.path))
          : QStringLiteral("Recording stopped: %1").arg(QString::fromStdString(stats.error)));
}
