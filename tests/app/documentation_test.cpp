// What --help says, the man page and the README say too: every option, the exit statuses, the
// settings file and the names of captured files.
#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QString>

#include "app/command_line.h"

namespace {

QString readSource(const char* path) {
  QFile file(QStringLiteral(PV_SOURCE_DIR "/") + QString::fromLatin1(path));
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// roff writes a minus as "\-".
QString plainRoff(QString text) {
  return text.replace(QStringLiteral("\\-"), QStringLiteral("-"));
}

TEST(Documentation, ManPageAndReadmeNameEveryOptionOfHelp) {
  const QString help = QString::fromStdString(commandLineHelp());
  const QString man = plainRoff(readSource("packaging/man/pelloxview.1"));
  const QString readme = readSource("README.md");
  ASSERT_FALSE(man.isEmpty());
  ASSERT_FALSE(readme.isEmpty());
  const QRegularExpression option(QStringLiteral("(?<![\\w-])(--[a-z][a-z-]*|-[a-z])\\b"));
  int options = 0;
  for (auto it = option.globalMatch(help); it.hasNext();) {
    const QString name = it.next().captured(1);
    ++options;
    EXPECT_TRUE(man.contains(name)) << name.toStdString() << " missing in the man page";
    EXPECT_TRUE(readme.contains("`" + name)) << name.toStdString() << " missing in the README";
  }
  EXPECT_GT(options, 20);
}

TEST(Documentation, ExitStatusesZoomFileAndCaptureNames) {
  const QString help = QString::fromStdString(commandLineHelp());
  const QString man = plainRoff(readSource("packaging/man/pelloxview.1"));
  const QString readme = readSource("README.md");
  // --zoom is remembered: each says where.
  for (const QString& text : {help, man, readme}) {
    EXPECT_TRUE(text.contains("pelloxview.conf"));
    EXPECT_TRUE(text.contains("never reached \"Connected.\"")) << "exit status 3";
    EXPECT_TRUE(text.contains("not written")) << "exit status 4";
  }
  const int statuses = man.indexOf(".SH EXIT STATUS");
  ASSERT_GE(statuses, 0);
  for (const char* status : {".B 0", ".B 1", ".B 2", ".B 3", ".B 4"})
    EXPECT_GE(man.indexOf(status, statuses), 0) << status;
  EXPECT_TRUE(man.contains("DVR-chNN-DATE-TIME.png"));
  EXPECT_TRUE(man.contains("DVR-chNN-DATE-TIME.mkv"));
  EXPECT_TRUE(man.contains(".SH SIGNALS"));
}

}  // namespace
