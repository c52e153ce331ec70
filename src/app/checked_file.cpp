#include "app/checked_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

QString reason(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace

bool writeWholeFile(platform::COutputFile file, const QByteArray& bytes, QString* error) {
  const int fd = file.release();
  qsizetype written = 0;
  while (written < bytes.size()) {
    const ssize_t n =
        ::write(fd, bytes.constData() + written, static_cast<size_t>(bytes.size() - written));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = n < 0 ? reason(errno) : QStringLiteral("nothing more could be written");
      ::close(fd);
      return false;
    }
    written += n;
  }
  // A network file system may report a failed write only at close.
  if (::close(fd) != 0) {
    *error = reason(errno);
    return false;
  }
  return true;
}
