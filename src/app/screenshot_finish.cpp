#include "app/screenshot_finish.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <chrono>

#include "app/picture_writer.h"
#include "app/run_outcome.h"

QString finishScreenshotFile(CPictureWriter& writer, const std::string& screenshot,
                             const QElapsedTimer& started, qint64 waitMs, CRunOutcome& outcome) {
  const qint64 left = std::max<qint64>(0, waitMs - started.elapsed());
  writer.finish(std::chrono::milliseconds(left));
  const QString path = QFile::decodeName(QByteArray::fromStdString(screenshot));
  QString saved;
  for (const CPictureWriter::Result& result : writer.takeResults()) {
    if (result.saved) {
      saved = path;
    } else {
      // A file that didn't get every byte, or none within the wait, is a failed output.
      outcome.outputFailed(
          QStringLiteral("--screenshot"), path,
          result.abandoned
              ? QStringLiteral("the disk did not finish the file within %1 s").arg(waitMs / 1000)
              : result.error);
    }
  }
  return saved;
}
