#pragma once
// Writing a whole file where a short write must not pass for success (a full disk, a missing
// folder): every byte is written and the file closed without error, or the reason is returned.
#include <QByteArray>
#include <QString>
#include <string>

// Creates or truncates path (its bytes go to the file system as given, so a name that isn't
// UTF-8 stays as it is) and writes bytes; false with a reason in *error.
bool writeWholeFile(const std::string& path, const QByteArray& bytes, QString* error);
