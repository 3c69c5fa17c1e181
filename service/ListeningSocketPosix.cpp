#include "service/ListeningSocket.h"

namespace OrvaneClient {

Poco::Net::ServerSocket OpenListeningSocket(const Poco::Net::SocketAddress& address, int backlog) {
    Poco::Net::ServerSocket socket;
    // The library's address constructor also sets SO_REUSEPORT, which lets a second instance
    // bind the same port and take half of the connections.
    socket.bind(address, true, false);
    socket.listen(backlog);
    return socket;
}

}  // namespace OrvaneClient
