#pragma once
// Writing a whole file where a short write must not pass for success (a full disk, a network
// share that fails at close): every byte is written and the file closed without error, or the
// reason is returned.
#include <QByteArray>
#include <QString>

#include "platform/output_file.h"

// Writes bytes to the created file and closes it; false with a reason in *error.
bool writeWholeFile(platform::COutputFile file, const QByteArray& bytes, QString* error);
