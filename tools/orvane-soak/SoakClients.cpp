#include "tools/orvane-soak/SoakClients.h"

#include "core/Protocols/orvane_desktop_service/Source/orvane_desktop_service.pb.h"
#include "core/Protocols/qovex_pb/Source/qovex_pb.pb.h"
#include "core/messaging/PacketFraming.h"

#include <Poco/Exception.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/Thread.h>
#include <Poco/Timespan.h>

#include <chrono>
#include <random>

namespace OrvaneSoak {

namespace {

std::string RequestWithSize(std::uint32_t size, const std::string& body) {
    qovex::protocols::pb::Header header;
    header.set_sort(1);
    header.set_type(orvane::protocols::desktop_service::LAUNCH_ELEVATED_REQUEST);
    header.set_size(size);
    header.set_oseq(1);
    return OrvaneClient::FramePacket(header, body);
}

void SendAll(Poco::Net::StreamSocket& socket, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const int n = socket.sendBytes(bytes.data() + sent, static_cast<int>(bytes.size() - sent));
        if (n <= 0) {
            throw Poco::IOException("send wrote nothing");
        }
        sent += static_cast<std::size_t>(n);
    }
}

// Reads one whole packet; false when the connection ends or a second passes first.
bool ReceivePacket(Poco::Net::StreamSocket& socket) {
    socket.setReceiveTimeout(Poco::Timespan(1, 0));
    std::string bytes;
    char chunk[512];
    std::size_t wanted = 2;
    while (bytes.size() < wanted) {
        const int n = socket.receiveBytes(chunk, sizeof(chunk));
        if (n <= 0) {
            return false;
        }
        bytes.append(chunk, static_cast<std::size_t>(n));
        if (bytes.size() >= 2 && wanted == 2) {
            const std::size_t headerLength =
                (static_cast<unsigned char>(bytes[0]) << 8) | static_cast<unsigned char>(bytes[1]);
            wanted = 2 + headerLength;
        }
        if (wanted > 2 && bytes.size() >= wanted) {
            qovex::protocols::pb::Header header;
            if (!header.ParseFromArray(bytes.data() + 2, static_cast<int>(wanted - 2))) {
                return false;
            }
            wanted += header.size();
            if (bytes.size() >= wanted) {
                return true;
            }
        }
    }
    return true;
}

}  // namespace

const char* KindName(Kind kind) {
    switch (kind) {
        case Kind::ResetAfterRequest:
            return "reset after request";
        case Kind::ResetMidPacket:
            return "reset mid-packet";
        case Kind::Garbage:
            return "garbage";
        case Kind::Truncated:
            return "truncated";
        case Kind::Oversized:
            return "oversized";
        case Kind::Silent:
            return "silent";
        case Kind::Slow:
            return "slow";
    }
    return "?";
}

std::string LibraryInfoRequest(std::uint32_t oseq) {
    qovex::protocols::pb::Header header;
    header.set_sort(1);
    header.set_type(orvane::protocols::desktop_service::LIBRARY_INFO_REQUEST);
    header.set_size(0);
    header.set_oseq(oseq);
    return OrvaneClient::FramePacket(header, "");
}

void RunHostile(const Poco::Net::SocketAddress& service,
                Kind kind,
                std::uint32_t seed,
                Tally& tally) {
    Poco::Net::StreamSocket socket;
    try {
        socket.connect(service, Poco::Timespan(3, 0));
    } catch (const Poco::Exception&) {
        ++tally.connectFailures;
        Poco::Thread::sleep(50);
        return;
    }
    ++tally.connections[static_cast<int>(kind)];
    std::mt19937 random(seed);
    try {
        switch (kind) {
            case Kind::ResetAfterRequest:
                SendAll(socket, LibraryInfoRequest(seed));
                socket.setLinger(true, 0);
                break;
            case Kind::ResetMidPacket:
                SendAll(socket, LibraryInfoRequest(seed).substr(0, 1 + seed % 5));
                socket.setLinger(true, 0);
                break;
            case Kind::Garbage: {
                std::string bytes(64 + random() % 448, '\0');
                for (char& byte : bytes) {
                    byte = static_cast<char>(random());
                }
                SendAll(socket, bytes);
                break;
            }
            case Kind::Truncated:
                SendAll(socket, RequestWithSize(100, std::string(10, 'p')));
                break;
            case Kind::Oversized:
                SendAll(socket, RequestWithSize(100000, std::string(1000, 'o')));
                break;
            case Kind::Silent:
                Poco::Thread::sleep(2000);
                break;
            case Kind::Slow: {
                // Under the service's one-second receive timeout per piece.
                const std::string request = LibraryInfoRequest(seed);
                for (const char byte : request) {
                    SendAll(socket, std::string(1, byte));
                    Poco::Thread::sleep(100);
                }
                if (ReceivePacket(socket)) {
                    ++tally.slowAnswers;
                }
                break;
            }
        }
        socket.close();
    } catch (const Poco::Exception&) {
        // The service closed first, as it may for hostile input.
    }
}

MonitorResult RunMonitor(const Poco::Net::SocketAddress& service,
                         long intervalMs,
                         const std::atomic<bool>& running) {
    MonitorResult result;
    try {
        Poco::Net::StreamSocket socket;
        socket.connect(service, Poco::Timespan(3, 0));
        socket.setNoDelay(true);
        for (std::uint32_t oseq = 1; running; ++oseq) {
            const auto sent = std::chrono::steady_clock::now();
            SendAll(socket, LibraryInfoRequest(oseq));
            ++result.requests;
            if (!ReceivePacket(socket)) {
                ++result.failures;
                result.firstFailure = "no answer within a second";
                return result;
            }
            const double latency =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sent)
                    .count();
            result.worstLatencyMs = std::max(result.worstLatencyMs, latency);
            Poco::Thread::sleep(intervalMs);
        }
    } catch (const Poco::Exception& exception) {
        ++result.failures;
        result.firstFailure = exception.displayText();
    }
    return result;
}

}  // namespace OrvaneSoak
