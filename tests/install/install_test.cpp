// `cmake --install` of this build into a fresh prefix: exactly the programs, the desktop entry,
// the icons and the man pages, each usable as installed.
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "support/run_program.h"

namespace {

// Combined output of a program; its exit code in *exitCode.
QString run(const QString& program, const std::vector<std::string>& args, int* exitCode = nullptr) {
  const auto result = testing_support::runProgram(program, args, {"ASAN_OPTIONS=detect_leaks=0"});
  if (exitCode != nullptr) *exitCode = result.exitCode;
  return QString::fromStdString(result.out + result.err);
}

// Every long option a text names (--name), as troff writes them in a man page or plainly.
std::set<QString> longOptions(QString text) {
  text.replace(QStringLiteral("\\-"), QStringLiteral("-"));
  std::set<QString> options;
  const QRegularExpression option(QStringLiteral("(?<![\\w-])--[a-z][a-z0-9-]*"));
  for (auto it = option.globalMatch(text); it.hasNext();) options.insert(it.next().captured());
  return options;
}

QString readText(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

class Install : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    prefix_ = new QTemporaryDir;
    int code = 0;
    log_ = new QString(run(
        "cmake", {"--install", PV_BINARY_DIR, "--prefix", prefix_->path().toStdString()}, &code));
    ok_ = code == 0;
  }
  static void TearDownTestSuite() {
    delete prefix_;
    delete log_;
  }
  static QString at(const QString& relative) { return prefix_->filePath(relative); }

  static QTemporaryDir* prefix_;
  static QString* log_;
  static bool ok_;
};
QTemporaryDir* Install::prefix_ = nullptr;
QString* Install::log_ = nullptr;
bool Install::ok_ = false;

TEST_F(Install, TreeHoldsExactlyTheProgramsAndTheirDesktopFiles) {
  ASSERT_TRUE(ok_) << log_->toStdString();
  std::set<QString> found;
  for (QDirIterator it(prefix_->path(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
    found.insert(QDir(prefix_->path()).relativeFilePath(it.next()));
  const std::set<QString> expected = {
      "bin/pelloxview",
      "bin/pelloxview-bridge",
      "bin/dvr-emulator",
      "lib/systemd/system/pelloxview-bridge@.service",
      "share/applications/pelloxview.desktop",
      "share/icons/hicolor/32x32/apps/pelloxview.png",
      "share/icons/hicolor/64x64/apps/pelloxview.png",
      "share/icons/hicolor/128x128/apps/pelloxview.png",
      "share/icons/hicolor/256x256/apps/pelloxview.png",
      "share/man/man1/pelloxview.1",
      "share/man/man1/pelloxview-bridge.1",
      "share/man/man1/dvr-emulator.1",
  };
  EXPECT_EQ(found, expected);
  // The viewer starts its demo DVR from its own directory.
  for (const char* program : {"bin/pelloxview", "bin/pelloxview-bridge", "bin/dvr-emulator"})
    EXPECT_TRUE(QFileInfo(at(program)).isExecutable()) << program;
  int code = -1;
  const QString version = run(at("bin/dvr-emulator"), {"--version"}, &code);
  EXPECT_EQ(code, 0) << version.toStdString();
}

TEST_F(Install, DesktopEntryNamesTheInstalledProgramAndIcons) {
  ASSERT_TRUE(ok_) << log_->toStdString();
  QSettings entry(at("share/applications/pelloxview.desktop"), QSettings::IniFormat);
  entry.beginGroup("Desktop Entry");
  EXPECT_EQ(entry.value("Type").toString(), "Application");
  EXPECT_EQ(entry.value("Name").toString(), "PelloxView");
  EXPECT_EQ(entry.value("Exec").toString().section(' ', 0, 0), "pelloxview");
  EXPECT_EQ(entry.value("Terminal").toString(), "false");
  const QString icon = entry.value("Icon").toString();
  for (const int size : {32, 64, 128, 256}) {
    const QImage image(at(QString("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(icon)));
    ASSERT_EQ(image.size(), QSize(size, size)) << size;
    EXPECT_TRUE(image.hasAlphaChannel());
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << "corners stay transparent";
    EXPECT_EQ(qAlpha(image.pixel(size / 2, size / 2)), 255);
  }
}

// Each man page renders without warnings and names every option the program itself lists.
TEST_F(Install, EmulatorManPageCoversEveryOption) {
  ASSERT_TRUE(ok_) << log_->toStdString();
  const QString page = readText(at("share/man/man1/dvr-emulator.1"));
  ASSERT_TRUE(page.startsWith(".TH DVR-EMULATOR 1"));
  const std::set<QString> documented = longOptions(page);
  for (const QString& option : longOptions(run(at("bin/dvr-emulator"), {"--help"})))
    EXPECT_TRUE(documented.count(option)) << option.toStdString();
  if (!QStandardPaths::findExecutable("groff").isEmpty()) {
    for (const char* name : {"dvr-emulator.1", "pelloxview.1", "pelloxview-bridge.1"}) {
      const QString warnings = run("groff", {"-man", "-Tutf8", "-ww", "-z",
                                             at(QString("share/man/man1/") + name).toStdString()});
      EXPECT_TRUE(warnings.isEmpty()) << name << ": " << warnings.toStdString();
    }
  }
}

// The bridge's page names every option its usage lists; its service runs the installed program
// with the per-instance settings.
TEST_F(Install, BridgeManPageAndServiceFitTheInstalledProgram) {
  ASSERT_TRUE(ok_) << log_->toStdString();
  int code = -1;
  const QString usage = run(at("bin/pelloxview-bridge"), {"--help"}, &code);
  EXPECT_EQ(code, 0) << usage.toStdString();
  const std::set<QString> listed = longOptions(usage);
  ASSERT_GT(listed.size(), 8u) << usage.toStdString();
  const std::set<QString> documented =
      longOptions(readText(at("share/man/man1/pelloxview-bridge.1")));
  for (const QString& option : listed)
    EXPECT_TRUE(documented.count(option)) << option.toStdString();
  const QString unit = readText(at("lib/systemd/system/pelloxview-bridge@.service"));
  EXPECT_TRUE(unit.contains("\nExecStart=" + at("bin/pelloxview-bridge") +
                            " --config /etc/pelloxview/bridge-%i.conf"))
      << unit.toStdString();
}

// The viewer's page follows the README's command-line table.
TEST_F(Install, ViewerManPageCoversTheReadmesCommandLine) {
  ASSERT_TRUE(ok_) << log_->toStdString();
  const QString readme = readText(QStringLiteral(PV_SOURCE_DIR "/README.md"));
  const int start = readme.indexOf("\n## Command line");
  if (start < 0) GTEST_SKIP() << "the README has no command-line table";
  const int end = readme.indexOf("\n## ", start + 1);
  QString table;
  for (const QString& line : readme.mid(start, end - start).split('\n'))
    if (line.startsWith("| `")) table += line.section('|', 1, 1);
  const std::set<QString> listed = longOptions(table);
  ASSERT_FALSE(listed.empty());
  const std::set<QString> documented = longOptions(readText(at("share/man/man1/pelloxview.1")));
  for (const QString& option : listed)
    EXPECT_TRUE(documented.count(option)) << option.toStdString();
}

}  // namespace
