#pragma once
// Writing a whole file where a short write must not pass for success (a full disk, a missing
// folder): every byte is written and flushed, or the reason is returned.
#include <QByteArray>
#include <QString>

// Creates or truncates path and writes bytes; false with a reason in *error.
bool writeWholeFile(const QString& path, const QByteArray& bytes, QString* error);
