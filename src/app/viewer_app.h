#pragma once
// The application: builds the main window on the real display and sound device, runs it
// modally, and when it closes waits briefly for the orderly disconnect before the process ends.
#include "app/command_line.h"

class CViewerApp {
 public:
  // Runs the whole viewer for parsed options (after a QApplication exists). Returns the exit
  // status. The password (empty without --connect) is wiped once the session holds it.
  int run(const CommandLineOptions& options, std::string& password);
};

// The entry point's work: parses, prepares the platform, creates the QApplication and runs.
int viewerMain(int argc, char** argv);
