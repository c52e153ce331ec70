// The entry point's work: parses the command line, prepares the platform, creates the
// application object and runs the viewer. Kept apart from the window's headers: the X11 headers
// that QApplication brings in define a type of the same name as the display.
#include <QApplication>
#include <QDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/core_dumps.h"
#include "app/password_source.h"
#include "app/run_outcome.h"
#include "app/viewer_app.h"
#include "app/window_zoom.h"
#include "platform/data_directory.h"

namespace {
bool hasDisplay() {
  return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}
}  // namespace

int viewerMain(int argc, char** argv) {
  std::vector<std::string> args;
  if (argc > 1) args.assign(argv + 1, argv + argc);
  CommandLineOptions options;
  std::string error;
  if (!parseCommandLine(args, &options, &error)) {
    std::fprintf(stderr, "pelloxview: %s\n", error.c_str());
    return exit_status::kBadOptions;
  }
  if (options.help) {
    std::fputs(commandLineHelp().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::puts("pelloxview 1.0.0.0 (015)");
    return 0;
  }
  // Before the password is read: no core file may carry it.
  if (!options.allowCoreDumps && !disableCoreDumps())
    std::fprintf(stderr, "pelloxview: warning: core dumps could not be turned off\n");
  std::string password;
  if (!options.host.empty()) {
    if (options.user.empty()) {
      std::fprintf(stderr, "pelloxview: --connect needs --user ID\n");
      return exit_status::kBadOptions;
    }
    PasswordResult read = readPassword(options.passwordFile);
    if (!read.ok) {
      std::fprintf(stderr, "pelloxview: %s\n", read.error.c_str());
      return exit_status::kBadOptions;
    }
    if (!read.warning.empty())
      std::fprintf(stderr, "pelloxview: warning: %s\n", read.warning.c_str());
    password = std::move(read.password);
  }
  // No screen: a session that runs by itself goes offscreen; a run that would wait for a user
  // at a window nobody can see says so instead.
  if (!hasDisplay() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    if (options.host.empty() && !options.demo && options.quitAfterSeconds == 0) {
      explicit_bzero(password.data(), password.size());
      std::fputs(
          "pelloxview: no display found (DISPLAY and WAYLAND_DISPLAY are unset); to run without "
          "one, use --demo or --connect HOST --user ID [--quit-after SECONDS] (see --help)\n",
          stderr);
      return exit_status::kFailed;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  // The demo keeps its own address book and settings: it never replaces the user's last DVR.
  if (options.demo && options.dataDir.empty())
    options.dataDir =
        QDir(platform::dataDirectory()).filePath(QStringLiteral("demo")).toStdString();
  if (!options.dataDir.empty()) {
    platform::setDataDirectoryOverride(QString::fromStdString(options.dataDir));
  }
  if (options.zoom > 0) rememberZoom(options.zoom);
  const int zoom = options.zoom > 0 ? options.zoom : rememberedZoom();
  if (zoom > 0) qputenv("QT_SCALE_FACTOR", QByteArray::number(zoom));

  // Qt sees only the program's name: its own options (-platform, -style, ...) could otherwise be
  // taken from the values of the viewer's options.
  int qtArgc = 1;
  char programName[] = "pelloxview";
  char* qtArgv[] = {argc > 0 && argv[0] != nullptr ? argv[0] : programName, nullptr};
  QApplication app(qtArgc, qtArgv);
  QApplication::setApplicationName(QStringLiteral("PelloxView"));
  QApplication::setApplicationVersion(QStringLiteral("1.0.0.0 (015)"));
  const int status = CViewerApp().run(options, password);
  explicit_bzero(password.data(), password.size());
  return status;
}
