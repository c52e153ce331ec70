// Snapshots and recordings of the live picture, through the tap on the frame path. Files are
// private and never put over an existing one; snapshots are saved on threads of their own and
// recordings created, written and closed on their writer thread, so the window never waits for
// the disk.
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <algorithm>
#include <chrono>

#include "app/picture_writer.h"
#include "app/status_line.h"
#include "app/viewer_dlg.h"
#include "platform/messages.h"
#include "recording/live_tap.h"

using recording::RecordingEnd;
using recording::RecordingStats;

namespace {
// File names keep to letters, digits, dots and dashes whatever the DVR's address looks like.
QString safeName(const QString& text) {
  QString name;
  for (const QChar c : text) {
    name += (c.isLetterOrNumber() && c.unicode() < 128) || c == '.' || c == '-' ? c : QChar('_');
  }
  return name.isEmpty() ? QStringLiteral("DVR") : name;
}

std::string nativePath(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

QString displayPath(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(path));
}
}  // namespace

QString CViewerDlg::captureFolder(bool video) const {
  QString folder = services_.captureDirectory;
  if (folder.isEmpty()) {
    folder = QStandardPaths::writableLocation(video ? QStandardPaths::MoviesLocation
                                                    : QStandardPaths::PicturesLocation);
  }
  if (folder.isEmpty()) folder = QDir::homePath();
  return folder;
}

// "<DVR>-ch<NN>-<yyyyMMdd-HHmmss>.<extension>" in the folder for its kind; a counter is added
// when the name is taken.
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
  // The folder is made by the save's thread too; the outcome arrives as kSnapshotSaved.
  const QString path = captureFileName(false);
  if (!snapshotWriter_->save(picture, nativePath(path), platform::ExistingFile::Numbered, true)) {
    // Saves still stuck on storage that stopped answering: no more threads for it.
    captureFailed_ = true;
    setStatusText(QStringLiteral("Can't save %1").arg(path));
  }
}

// How the snapshots' saves ended.
void CViewerDlg::onSnapshotResults() {
  if (!snapshotWriter_) return;
  for (const CPictureWriter::Result& result : snapshotWriter_->takeResults()) {
    const QString path = displayPath(result.path);
    if (result.saved) {
      setStatusText(QStringLiteral("Saved %1").arg(path));
      if (onCapture) onCapture(path);
      continue;
    }
    captureFailed_ = true;
    setStatusText(result.abandoned ? QStringLiteral("Can't save %1: %2; the snapshot was abandoned")
                                         .arg(path, result.error)
                                   : QStringLiteral("Can't save %1").arg(path));
  }
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
  // The writer thread makes the folder too: nothing here waits for the disk.
  startRecordingTo(nativePath(captureFileName(true)), platform::ExistingFile::Numbered, true);
}

void CViewerDlg::startRecordingTo(const std::string& path, platform::ExistingFile existing,
                                  bool makeFolder) {
  std::string error;
  const QString shown = displayPath(path);
  if (liveTap_->startRecording(path, existing, &error, makeFolder)) {
    setStatusText(QStringLiteral("Recording %1").arg(shown));
  } else {
    setStatusText(QStringLiteral("Can't record %1: %2").arg(shown, QString::fromStdString(error)));
  }
  statusLine_->setRecordingMark(liveTap_->recording());
}

// Ends a recording (a channel switch, a teardown, R). The writer closes the file and reports how
// it went; the window doesn't wait for it.
void CViewerDlg::stopRecording() {
  if (!liveTap_ || !liveTap_->recording()) return;
  liveTap_->stopRecording();
  statusLine_->setRecordingMark(false);
}

void CViewerDlg::recordOnNextPicture(const std::string& path, bool overwrite) {
  recordOnNextPicture(path,
                      overwrite ? platform::ExistingFile::Replace : platform::ExistingFile::Refuse);
}

void CViewerDlg::recordOnNextPicture(const std::string& path, platform::ExistingFile existing) {
  pendingRecordPath_ = path;
  pendingRecordExisting_ = existing;
}

bool CViewerDlg::finishRecordings() {
  // One bound for recordings and snapshots together.
  const auto deadline = std::chrono::steady_clock::now() + CLiveTap::kAbandonAfter;
  if (liveTap_) {
    liveTap_->finishRecordings();
    onRecordingEvents();
  }
  if (snapshotWriter_) {
    snapshotWriter_->finish(std::max(std::chrono::milliseconds(0),
                                     std::chrono::duration_cast<std::chrono::milliseconds>(
                                         deadline - std::chrono::steady_clock::now())));
    onSnapshotResults();
  }
  return !captureFailed_;
}

// What the writers reported: a file created, or a recording's end, whoever ended it.
void CViewerDlg::onRecordingEvents() {
  if (!liveTap_) return;
  for (const RecordingStats& stats : liveTap_->takeRecordingEvents()) {
    const QString path = displayPath(stats.path);
    const QString error = QString::fromStdString(stats.error);
    if (stats.end == RecordingEnd::Running) {
      // The name may have got a counter; a DVR notice shown meanwhile stays (the mark says that
      // the recording runs).
      if (liveTap_->recordingPath() == stats.path &&
          statusText_.startsWith(QStringLiteral("Recording ")))
        setStatusText(QStringLiteral("Recording %1").arg(path));
      continue;
    }
    if (stats.saved()) {
      setStatusText(QStringLiteral("Saved %1").arg(path));
      if (onCapture) onCapture(path);
      continue;
    }
    captureFailed_ = true;
    if (stats.end == RecordingEnd::WriteFailed && !stats.created) {
      setStatusText(QStringLiteral("Can't record %1: %2").arg(path, error));
    } else if (stats.end == RecordingEnd::WriteFailed || stats.end == RecordingEnd::Abandoned) {
      setStatusText(QStringLiteral("Recording stopped: %1").arg(error));
    } else {
      setStatusText(stats.picturesBeforeStart > 0
                        ? QStringLiteral("Nothing recorded: no key frame yet")
                        : QStringLiteral("Nothing recorded: no picture yet"));
    }
  }
  statusLine_->setRecordingMark(liveTap_->recording());
}
