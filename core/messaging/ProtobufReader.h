#pragma once

// The receiving side of the desktop service protocol.
//
// A packet on the wire is H (two bytes, big-endian: the length of the serialised Header), the
// serialised qovex.protocols.pb.Header, then `size` bytes of body, where `size` is the header's
// field (0 or absent: no body). ProtobufReader gathers the bytes of one connection until a whole
// packet is there and hands out its Header and raw body; the static parse functions turn a body
// into the message of its type.
//
// One reader per connection, used by one thread at a time; it holds no lock.

#include "core/Protocols/orvane_desktop_service/Source/orvane_desktop_service.pb.h"
#include "core/Protocols/qovex_pb/Source/qovex_pb.pb.h"

#include <Poco/Net/StreamSocket.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace OrvaneClient {

enum class ReadResult {
    // One whole packet was handed out.
    PacketReady = 0,
    // No whole packet yet; the bytes received so far stay buffered.
    NeedMoreData = 1,
    // A library exception that is not a network exception (for example the receive timed out).
    ReadError = 2,
    // The header bytes did not parse; every buffered byte was dropped.
    HeaderParseError = 3,
    // The peer closed, a network exception occurred, or the packet can never fit the buffer.
    ConnectionClosed = 4,
};

class ProtobufReader {
public:
    // Bytes a reader can hold: the longest packet it can ever complete.
    static constexpr std::size_t ReceiveBufferSize = 5000;

    // Keeps `socket` by reference (the caller owns it and keeps it alive longer than the
    // reader), allocates the receive buffer and turns on TCP no-delay and keep-alive.
    // Exceptions of the networking library from the two options pass to the caller.
    explicit ProtobufReader(Poco::Net::StreamSocket& socket);
    ~ProtobufReader();

    ProtobufReader(const ProtobufReader&) = delete;
    ProtobufReader& operator=(const ProtobufReader&) = delete;

    // Sets the receive timeout to `timeoutSeconds`, receives once (blocking up to the timeout)
    // and hands out the first buffered packet if it is whole. On PacketReady, `header` gets a
    // copy of the packet's header and `contentBuffer` exactly its body bytes; on every other
    // result both are left untouched. Bytes of later packets stay buffered and are handed out
    // by later calls, each after its own receive. Never throws a Poco::Exception: failures are
    // logged and returned as ReadError or ConnectionClosed.
    ReadResult readWholePacket(qovex::protocols::pb::Header& header,
                               std::vector<char>& contentBuffer,
                               int timeoutSeconds);

    // Bytes received and not yet handed out; below ReceiveBufferSize between calls.
    std::size_t bufferedByteCount() const { return fillCount; }

    // Fill `message` from the first header.size() bytes of `contentBuffer`. Return false, with
    // one warning line, when header.size() is 0, when `contentBuffer` is shorter than that, or
    // when the bytes do not parse (a missing required field included). Extra bytes are ignored.
    static bool parseFixDirectoryPrivilegesRequest(
        const std::vector<char>& contentBuffer,
        const qovex::protocols::pb::Header& header,
        orvane::protocols::desktop_service::FixDirectoryPrivilegesRequest& message);
    static bool parseLaunchElevatedRequest(
        const std::vector<char>& contentBuffer,
        const qovex::protocols::pb::Header& header,
        orvane::protocols::desktop_service::LaunchElevatedRequest& message);

    // The client's side of the same, for the service's answers.
    static bool parseLaunchElevatedResponse(
        const std::vector<char>& contentBuffer,
        const qovex::protocols::pb::Header& header,
        orvane::protocols::desktop_service::LaunchElevatedResponse& message);
    static bool parseLibraryInfoResponse(
        const std::vector<char>& contentBuffer,
        const qovex::protocols::pb::Header& header,
        orvane::protocols::desktop_service::LibraryInfoResponse& message);

private:
    // False, with its warning line naming `messageName`, when the header announces no body or
    // more bytes than `contentBuffer` holds.
    static bool checkContentSize(const char* messageName,
                                 const std::vector<char>& contentBuffer,
                                 const qovex::protocols::pb::Header& header);

    // The parse functions' common body: checkContentSize with `messageName`, then the parse,
    // with `failureLine` as the warning when the bytes do not parse.
    template <typename Message>
    static bool parseBody(const char* messageName,
                          const char* failureLine,
                          const std::vector<char>& contentBuffer,
                          const qovex::protocols::pb::Header& header,
                          Message& message);

    ReadResult receiveAndExtract(qovex::protocols::pb::Header& header,
                                 std::vector<char>& contentBuffer,
                                 int timeoutSeconds);
    // The first packet of what is buffered, when it is whole: PacketReady with it handed out
    // and removed from the buffer; NeedMoreData; or, with the buffer emptied and a warning line,
    // HeaderParseError or ConnectionClosed for a packet that cannot fit.
    ReadResult extractPacket(qovex::protocols::pb::Header& header,
                             std::vector<char>& contentBuffer);

    Poco::Net::StreamSocket& socket;
    std::unique_ptr<char[]> buffer;
    // Bytes at the front of `buffer` received and not yet handed out; the first of them is
    // always the first byte of a packet. Below ReceiveBufferSize whenever no call is running.
    std::size_t fillCount = 0;
};

}  // namespace OrvaneClient
