#pragma once

#include <Poco/Exception.h>
#include <Poco/Net/DatagramSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Timespan.h>

#include <optional>
#include <string>

namespace OrvaneClient::Testing {

// A syslog receiver on 127.0.0.1 at a port of the system's choosing.
class SyslogReceiver {
public:
    SyslogReceiver() : socket(Poco::Net::SocketAddress("127.0.0.1", 0)) {}

    std::string hostAndPort() const { return socket.address().toString(); }
    Poco::UInt16 port() const { return socket.address().port(); }

    // The next datagram; nullopt when none arrives before the deadline.
    std::optional<std::string> receive(Poco::Timespan deadline = Poco::Timespan(10, 0)) {
        socket.setReceiveTimeout(deadline);
        char buffer[65536];
        try {
            return std::string(buffer, static_cast<size_t>(socket.receiveBytes(buffer, 65536)));
        } catch (const Poco::TimeoutException&) {
            return std::nullopt;
        }
    }

    // Whether the next datagram carries `text` as its message (a syslog message ends with it).
    bool receiveEndingWith(const std::string& text) {
        const auto datagram = receive();
        return datagram && datagram->size() >= text.size() &&
               datagram->compare(datagram->size() - text.size(), text.size(), text) == 0;
    }

private:
    Poco::Net::DatagramSocket socket;
};

}  // namespace OrvaneClient::Testing
