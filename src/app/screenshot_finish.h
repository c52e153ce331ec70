#pragma once
// The end of a run's --screenshot, the same for both windows: its writer gets what is left of the
// wait since the file was started, and a file that didn't get every byte is a failed output.
#include <QElapsedTimer>
#include <QString>

#include <string>

class CPictureWriter;
class CRunOutcome;

// The screenshot's path when it was saved; empty (and the failure in outcome) otherwise.
QString finishScreenshotFile(CPictureWriter& writer, const std::string& screenshot,
                             const QElapsedTimer& started, qint64 waitMs, CRunOutcome& outcome);
