// The packet reader on an arbitrary byte stream over a real loopback connection, delivered in
// pieces the input chooses and ended by a close or a reset.
//
// Input: one byte of flags (bit 0: the client resets instead of closing), then pieces, each a
// length byte n and up to n + 1 bytes. Each piece is sent, then the reader is called once, as
// the connection handler calls it once per readable notification.

#include "fuzz/FuzzChecks.h"

#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using OrvaneClient::ProtobufReader;
using OrvaneClient::ReadResult;
using OrvaneClient::Fuzzing::Check;
using OrvaneClient::Fuzzing::CheckAllParsesAgree;

Poco::Net::ServerSocket& Listener() {
    static Poco::Net::ServerSocket listener = [] {
        Poco::Net::ServerSocket socket;
        socket.bind(Poco::Net::SocketAddress("127.0.0.1", 0), true, false);
        socket.listen(4);
        return socket;
    }();
    return listener;
}

void SendAll(Poco::Net::StreamSocket& socket, const char* bytes, std::size_t count) {
    std::size_t sent = 0;
    while (sent < count) {
        const int n = socket.sendBytes(bytes + sent, static_cast<int>(count - sent));
        Check(n > 0, "the loopback client could not send");
        sent += static_cast<std::size_t>(n);
    }
}

// One call, with every check that holds whatever the bytes were. True while the stream goes on.
bool ReadOnce(ProtobufReader& reader) {
    qovex::protocols::pb::Header header;
    header.set_sort(77);  // a sentinel: only a whole packet may replace it
    std::vector<char> contentBuffer{'s'};
    const ReadResult result = reader.readWholePacket(header, contentBuffer, 1);
    const int value = static_cast<int>(result);
    Check(value >= 0 && value <= 4, "readWholePacket returned no ReadResult value");
    Check(reader.bufferedByteCount() < ProtobufReader::ReceiveBufferSize,
          "the reader holds more than its buffer");
    if (result == ReadResult::PacketReady) {
        Check(header.IsInitialized(), "a packet without sort or type was handed out");
        Check(contentBuffer.size() == header.size(), "the body is not as long as announced");
        CheckAllParsesAgree(contentBuffer, header);
    } else {
        Check(header.sort() == 77 && contentBuffer == std::vector<char>{'s'},
              "a call without a whole packet changed the caller's header or body");
    }
    // A receive that waited out its timeout means the reader waited for bytes that were never
    // coming: every call here has bytes or the end of the stream to read.
    Check(result != ReadResult::ReadError, "the reader failed on a healthy connection");
    return result != ReadResult::ConnectionClosed;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    OrvaneClient::Fuzzing::SilenceLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    Poco::Net::StreamSocket client;
    client.connect(Listener().address());
    Poco::Net::StreamSocket server = Listener().acceptConnection();
    ProtobufReader reader(server);

    const bool reset = (data[0] & 1) != 0;
    const char* bytes = reinterpret_cast<const char*>(data);
    std::size_t position = 1;
    std::size_t sent = 0;
    bool open = true;
    while (open && position < size) {
        const std::size_t length = std::min<std::size_t>(data[position] + 1u, size - position - 1);
        ++position;
        if (length == 0) {
            break;
        }
        SendAll(client, bytes + position, length);
        position += length;
        sent += length;
        open = ReadOnce(reader);
    }
    if (open) {
        client.setLinger(reset, 0);
        client.close();
        // Each call before the end takes at least one byte off the connection.
        for (std::size_t calls = 0; ReadOnce(reader); ++calls) {
            Check(calls <= sent, "a closed connection did not end the stream");
        }
    } else {
        client.setLinger(true, 0);
    }
    // Closing with resets leaves no TIME_WAIT behind, however many inputs run.
    server.setLinger(true, 0);
    return 0;
}
