#include "control_socket.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace dvremu {
namespace {

bool makeAddress(const std::string& path, sockaddr_un* address) {
  *address = {};
  address->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.c_str(), path.size());
  return true;
}

// True when a process accepts connections on the socket at address.
bool someoneListens(const sockaddr_un& address) {
  UniqueFd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!probe.valid()) return true;  // can't tell: assume it is in use
  if (::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
    return true;
  return errno != ECONNREFUSED;
}

}  // namespace

UniqueFd openControlSocket(const std::string& path, ControlSocketIdentity* identity,
                           std::string* error) {
  sockaddr_un address{};
  if (!makeAddress(path, &address)) {
    *error = "control socket path '" + path + "' is empty or too long";
    return {};
  }
  struct stat existing {};
  if (::lstat(path.c_str(), &existing) == 0) {
    if (!S_ISSOCK(existing.st_mode)) {
      *error = "control socket path '" + path + "' exists and is not a socket; not replacing it";
      return {};
    }
    if (existing.st_uid != ::geteuid()) {
      *error = "control socket '" + path + "' belongs to another user; not replacing it";
      return {};
    }
    if (someoneListens(address)) {
      *error = "control socket '" + path + "' is in use by another process";
      return {};
    }
    ::unlink(path.c_str());  // a stale socket of an ended run
  } else if (errno != ENOENT) {
    *error = "cannot check control socket path '" + path + "': " + std::strerror(errno);
    return {};
  }
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  // bind creates the path exclusively: if something appeared meanwhile it fails with EADDRINUSE.
  if (!fd.valid() || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    *error = "cannot open control socket " + path + ": " + std::strerror(errno);
    return {};
  }
  struct stat created {};
  if (::lstat(path.c_str(), &created) != 0) {
    *error = "cannot open control socket " + path + ": " + std::strerror(errno);
    return {};
  }
  identity->device = created.st_dev;
  identity->inode = created.st_ino;
  if (::listen(fd.get(), 4) != 0) {
    *error = "cannot listen on control socket " + path + ": " + std::strerror(errno);
    removeControlSocket(path, *identity);
    return {};
  }
  return fd;
}

void removeControlSocket(const std::string& path, const ControlSocketIdentity& identity) {
  struct stat now {};
  if (::lstat(path.c_str(), &now) != 0) return;
  if (!S_ISSOCK(now.st_mode) || now.st_dev != identity.device || now.st_ino != identity.inode)
    return;  // replaced by someone else since: theirs now
  ::unlink(path.c_str());
}

}  // namespace dvremu
