// S and R on the monitor window: a snapshot or a recording of the focused tile's channel, at the
// DVR's own picture size.
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include "monitor/monitor_capture.h"
#include "monitor/monitor_window.h"
#include "monitor/tile_widget.h"

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

// "<DVR>-ch<NN>-<yyyyMMdd-HHmmss>.<png|mkv>", as the compact window names its captures.
QString CMonitorWindow::captureFileName(int channel, bool video) const {
  QString folder = services_.captureDirectory;
  if (folder.isEmpty()) {
    folder = QStandardPaths::writableLocation(video ? QStandardPaths::MoviesLocation
                                                    : QStandardPaths::PicturesLocation);
  }
  if (folder.isEmpty()) folder = QDir::homePath();
  const QString name =
      QStringLiteral("%1-ch%2-%3.%4")
          .arg(safeName(QString::fromStdString(target_.address)))
          .arg(channel + 1, 2, 10, QLatin1Char('0'))
          .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")))
          .arg(video ? QStringLiteral("mkv") : QStringLiteral("png"));
  return QDir(folder).filePath(name);
}

void CMonitorWindow::takeSnapshot() {
  const int channel = focusedChannel();
  const QImage picture = channel >= 0 ? capture_->snapshot(channel) : QImage();
  if (picture.isNull()) {
    setStatus(QStringLiteral("No picture to save."));
    return;
  }
  emit snapshotReady(picture, captureFileName(channel, false));
}

int CMonitorWindow::recordingChannel() const {
  return capture_->recordingChannel();
}

void CMonitorWindow::toggleRecording() {
  if (capture_->recordingChannel() >= 0) {
    capture_->stopRecording();
  } else {
    const int channel = focusedChannel();
    if (channel < 0 || session_->phase() != SessionPhase::Ready) {
      setStatus(QStringLiteral("No picture to record."));
      return;
    }
    const QString path = captureFileName(channel, true);
    std::string error;
    if (capture_->startRecording(channel, QFile::encodeName(path).toStdString(), &error)) {
      setStatus(QStringLiteral("Recording %1").arg(path));
    } else {
      setStatus(QStringLiteral("Can't record %1: %2").arg(path, QString::fromStdString(error)));
    }
  }
  const int recorded = capture_->recordingChannel();
  for (CTileWidget* tile : tiles_) tile->setRecording(recorded >= 0 && tile->channel() == recorded);
}

// What the recording's writer reported: its file created, or the recording's end.
void CMonitorWindow::onCaptureNews() {
  using recording::RecordingEnd;
  for (const recording::RecordingStats& stats : capture_->takeEvents()) {
    const QString path = QFile::decodeName(QByteArray::fromStdString(stats.path));
    if (stats.end == RecordingEnd::Running) {
      setStatus(QStringLiteral("Recording %1").arg(path));
    } else if (stats.saved()) {
      setStatus(QStringLiteral("Saved %1").arg(path));
    } else if (stats.end == RecordingEnd::WriteFailed) {
      setStatus(
          QStringLiteral("Can't record %1: %2").arg(path, QString::fromStdString(stats.error)));
    } else {
      setStatus(QStringLiteral("Nothing recorded: no picture yet"));
    }
  }
  const int recorded = capture_->recordingChannel();
  for (CTileWidget* tile : tiles_) tile->setRecording(recorded >= 0 && tile->channel() == recorded);
}
