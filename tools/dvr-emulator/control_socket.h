#pragma once
// The unix socket that takes control commands. It is created only where nothing else lives, and
// on the way out it is removed only while the path still names the socket this process made.
#include <sys/types.h>

#include <string>

#include "socket_io.h"

namespace dvremu {

struct ControlSocketIdentity {
  dev_t device = 0;
  ino_t inode = 0;
};

// Binds and listens on path. A socket left there by an ended process (nobody accepts on it) is
// replaced; anything else at path (a file, a directory, a link, a socket someone serves, one of
// another user) is left alone and refused with the reason in *error.
UniqueFd openControlSocket(const std::string& path, ControlSocketIdentity* identity,
                           std::string* error);

// Unlinks path if it is still the socket described by identity.
void removeControlSocket(const std::string& path, const ControlSocketIdentity& identity);

}  // namespace dvremu
