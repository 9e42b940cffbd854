#pragma once
// The socket the service listens on: one handed over by systemd (socket activation: the
// LISTEN_PID / LISTEN_FDS protocol, descriptors from 3 on), or one bound here.

#include "platform/Result.h"

#include <string>

namespace service {

// The first listening Unix stream socket passed by systemd to this process; -1 when none was
// passed. The LISTEN_* variables are removed, so that children do not take them for theirs.
// Fails when descriptors were passed but the first is not a listening Unix stream socket.
Result<int> SocketFromSystemd();

// Binds and listens on `path`, readable and writable by everyone (clients are told apart by
// their credentials, not by the file's mode). Makes the folder when it is missing. A socket
// file left by a service that has ended is replaced; one that a running service answers on
// fails with EADDRINUSE.
Result<int> BindSocket(const std::string& path);

} // namespace service
