#pragma once

#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>

namespace OrvaneClient {

// A server socket bound to `address` and listening with `backlog`, such that no other socket
// can listen on the same address and port while it does: on Windows with SO_EXCLUSIVEADDRUSE
// (no other process can take the port over), elsewhere with address reuse but without port
// reuse (a restart still binds while old connections linger in TIME_WAIT).
// Throws Poco::Net::NetException (for example "Address already in use") when binding fails.
Poco::Net::ServerSocket OpenListeningSocket(const Poco::Net::SocketAddress& address, int backlog);

}  // namespace OrvaneClient
