#pragma once

#include "core/Protocols/qovex_pb/Source/qovex_pb.pb.h"

#include <Poco/Net/StreamSocket.h>
#include <Poco/Timespan.h>
#include <Poco/Types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace OrvaneClient::Testing {

// One packet as it came off the wire: the decoded header and the raw body bytes.
struct ReceivedPacket {
    qovex::protocols::pb::Header header;
    std::string body;

    uint32_t rseq() const;
    int code() const;
};

// [H big-endian][header][body], framed independently of the product's sender.
std::string FramePacket(const qovex::protocols::pb::Header& header, const std::string& body = "");
// A request as a client sends it: sort 1, `type`, size = body length, `oseq` when given.
std::string RequestPacket(uint32_t type,
                          std::optional<uint32_t> oseq,
                          const std::string& body = "");

// A raw client connection to a server on 127.0.0.1, for driving the service in tests.
class ServiceTestClient {
public:
    explicit ServiceTestClient(Poco::UInt16 port);
    // Takes over a socket that is already connected.
    explicit ServiceTestClient(const Poco::Net::StreamSocket& connected) : socket(connected) {}

    void send(const std::string& bytes);
    // The next whole packet; nothing when the connection ends or `timeout` passes first.
    std::optional<ReceivedPacket> receive(Poco::Timespan timeout = Poco::Timespan(5, 0));
    // True when any byte arrives (or the connection ends) within `timeout`.
    bool readableWithin(Poco::Timespan timeout);
    // True when the server closes the connection within `timeout`; bytes still in flight are
    // skipped.
    bool closedByServerWithin(Poco::Timespan timeout);
    void close() { socket.close(); }

    Poco::Net::StreamSocket socket;
};

}  // namespace OrvaneClient::Testing
