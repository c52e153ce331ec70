// The entry point's work: parses the command line, prepares the platform, creates the
// application object and runs the viewer. Kept apart from the window's headers: the X11 headers
// that QApplication brings in define a type of the same name as the display.
#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/password_source.h"
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
    return 2;
  }
  if (options.help) {
    std::fputs(commandLineHelp().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::puts("pelloxview 1.0.0.0 (015)");
    return 0;
  }
  std::string password;
  if (!options.host.empty()) {
    if (options.user.empty()) {
      std::fprintf(stderr, "pelloxview: --connect needs --user ID\n");
      return 2;
    }
    PasswordResult read = readPassword(options.passwordFile);
    if (!read.ok) {
      std::fprintf(stderr, "pelloxview: %s\n", read.error.c_str());
      return 2;
    }
    if (!read.warning.empty())
      std::fprintf(stderr, "pelloxview: warning: %s\n", read.warning.c_str());
    password = std::move(read.password);
  }
  // No screen: run offscreen rather than fail to start.
  if (!hasDisplay() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
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
  std::fill(password.begin(), password.end(), '\0');
  return status;
}
