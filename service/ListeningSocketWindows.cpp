#include "service/ListeningSocket.h"

#include <Poco/Net/ServerSocketImpl.h>

namespace OrvaneClient {

namespace {

// The library creates the descriptor only inside bind(), too late for an option that must be
// set before binding; this implementation creates it up front.
class ExclusiveServerSocketImpl : public Poco::Net::ServerSocketImpl {
public:
    explicit ExclusiveServerSocketImpl(int family) {
        init(family);
        // Without it, SO_REUSEADDR on another process's socket could take the port over.
        setOption(SOL_SOCKET, SO_EXCLUSIVEADDRUSE, 1);
    }
};

class ExclusiveServerSocket : public Poco::Net::ServerSocket {
public:
    explicit ExclusiveServerSocket(int family)
        : Poco::Net::ServerSocket(new ExclusiveServerSocketImpl(family), true) {}
};

}  // namespace

Poco::Net::ServerSocket OpenListeningSocket(const Poco::Net::SocketAddress& address, int backlog) {
    ExclusiveServerSocket socket(address.af());
    // Address reuse and exclusive use exclude each other on Windows.
    socket.bind(address, false, false);
    socket.listen(backlog);
    return socket;
}

}  // namespace OrvaneClient
