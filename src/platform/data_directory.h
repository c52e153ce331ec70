#pragma once
// Where the viewer keeps its files (the address book).
#include <QString>

namespace platform {
// The data directory, in this order of precedence: the override set from the command line
// (--data-dir), the PELLOXVIEW_DATA_DIR environment variable, $XDG_DATA_HOME/pelloxview, and
// ~/.local/share/pelloxview. Never empty.
QString dataDirectory();
// Sets the command-line override (empty clears it).
void setDataDirectoryOverride(const QString& directory);
// The data directory, created when missing; empty when it can't be created.
QString ensureDataDirectory();
// Full path of a file in the data directory.
QString dataFilePath(const QString& fileName);
}  // namespace platform
