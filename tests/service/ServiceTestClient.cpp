#include "tests/service/ServiceTestClient.h"

#include "tests/support/LoopbackPair.h"

#include <Poco/Exception.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Timestamp.h>

namespace OrvaneClient::Testing {

using qovex::protocols::pb::Header;
using qovex::protocols::pb::Response;

uint32_t ReceivedPacket::rseq() const {
    return header.GetExtension(Response::rseq);
}

int ReceivedPacket::code() const {
    return header.GetExtension(Response::code);
}

std::string FramePacket(const Header& header, const std::string& body) {
    const std::string headerBytes = header.SerializePartialAsString();
    std::string packet;
    packet.push_back(static_cast<char>((headerBytes.size() >> 8) & 0xFF));
    packet.push_back(static_cast<char>(headerBytes.size() & 0xFF));
    return packet + headerBytes + body;
}

std::string RequestPacket(uint32_t type, std::optional<uint32_t> oseq, const std::string& body) {
    Header header;
    header.set_sort(1);
    header.set_type(type);
    header.set_size(static_cast<uint32_t>(body.size()));
    if (oseq) {
        header.set_oseq(*oseq);
    }
    return FramePacket(header, body);
}

ServiceTestClient::ServiceTestClient(Poco::UInt16 port) {
    socket.connect(Poco::Net::SocketAddress("127.0.0.1", port), Poco::Timespan(5, 0));
}

void ServiceTestClient::send(const std::string& bytes) {
    SendAll(socket, bytes);
}

std::optional<ReceivedPacket> ServiceTestClient::receive(Poco::Timespan timeout) {
    const Poco::Timestamp start;
    auto left = [&] { return timeout - Poco::Timespan(start.elapsed()); };

    const std::string prefix = ReceiveUpTo(socket, 2, left());
    if (prefix.size() < 2) {
        return std::nullopt;
    }
    const size_t headerLength =
        (static_cast<unsigned char>(prefix[0]) << 8) | static_cast<unsigned char>(prefix[1]);
    const std::string headerBytes = ReceiveUpTo(socket, headerLength, left());
    ReceivedPacket packet;
    if (headerBytes.size() < headerLength ||
        !packet.header.ParseFromArray(headerBytes.data(), static_cast<int>(headerLength))) {
        return std::nullopt;
    }
    packet.body = ReceiveUpTo(socket, packet.header.size(), left());
    if (packet.body.size() < packet.header.size()) {
        return std::nullopt;
    }
    return packet;
}

bool ServiceTestClient::readableWithin(Poco::Timespan timeout) {
    return socket.poll(timeout, Poco::Net::Socket::SELECT_READ);
}

bool ServiceTestClient::closedByServerWithin(Poco::Timespan timeout) {
    const Poco::Timestamp start;
    char skipped[256];
    for (;;) {
        const Poco::Timespan left = timeout - Poco::Timespan(start.elapsed());
        if (left <= 0 || !socket.poll(left, Poco::Net::Socket::SELECT_READ)) {
            return false;
        }
        try {
            if (socket.receiveBytes(skipped, sizeof(skipped), 0) == 0) {
                return true;
            }
        } catch (const Poco::Net::ConnectionResetException&) {
            return true;
        }
    }
}

}  // namespace OrvaneClient::Testing
