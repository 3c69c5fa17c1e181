#pragma once

#include <Poco/Exception.h>
#include <Poco/Net/StreamSocket.h>

#include <string>

namespace OrvaneClient {

// The peer's address as the log lines show it; "(unknown peer)" when the connection has none
// any more. Never throws.
inline std::string PeerText(const Poco::Net::StreamSocket& connection) {
    try {
        return connection.peerAddress().toString();
    } catch (const Poco::Exception&) {
        return "(unknown peer)";
    }
}

}  // namespace OrvaneClient
