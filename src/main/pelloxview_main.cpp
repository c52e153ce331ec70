// The viewer's entry point. The main window is not built yet; until then the program starts the
// application, prints what it will become and ends.
#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

#include "platform/data_directory.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("PelloxView");
  QApplication::setApplicationVersion("1.0.0.0 (015)");

  QCommandLineParser parser;
  parser.setApplicationDescription("Live-view client for networked digital video recorders.");
  parser.addHelpOption();
  parser.addVersionOption();
  QCommandLineOption dataDir("data-dir", "Directory of the address book.", "dir");
  QCommandLineOption connect("connect", "DVR to connect to at start.", "host:port");
  QCommandLineOption user("user", "User ID for --connect.", "id");
  QCommandLineOption password("password", "Password for --connect.", "password");
  parser.addOptions({dataDir, connect, user, password});
  parser.process(app);
  if (parser.isSet(dataDir)) platform::setDataDirectoryOverride(parser.value(dataDir));

  std::printf(
      "pelloxview: the live-view window is not part of this build yet.\n"
      "pelloxview: it will log in to %s and show its cameras.\n"
      "pelloxview: address book directory: %s\n",
      parser.isSet(connect) ? qPrintable(parser.value(connect)) : "a DVR of the address book",
      qPrintable(platform::dataDirectory()));
  return 0;
}
