#include "core/messaging/ProtobufReader.h"

#include "core/logfacade/LogFacade.h"
#include "core/messaging/ExceptionText.h"

#include <Poco/Exception.h>
#include <Poco/Net/NetException.h>
#include <Poco/Timespan.h>

#include <cstring>

namespace OrvaneClient {

using orvane::protocols::desktop_service::FixDirectoryPrivilegesRequest;
using orvane::protocols::desktop_service::LaunchElevatedRequest;
using orvane::protocols::desktop_service::LaunchElevatedResponse;
using orvane::protocols::desktop_service::LibraryInfoResponse;
using qovex::protocols::pb::Header;

namespace {

constexpr std::size_t PrefixLength = 2;

}  // namespace

ProtobufReader::ProtobufReader(Poco::Net::StreamSocket& socket)
    : socket(socket), buffer(new char[ReceiveBufferSize]) {
    socket.setNoDelay(true);
    socket.setKeepAlive(true);
}

ProtobufReader::~ProtobufReader() = default;

ReadResult ProtobufReader::readWholePacket(Header& header,
                                           std::vector<char>& contentBuffer,
                                           int timeoutSeconds) {
    try {
        return receiveAndExtract(header, contentBuffer, timeoutSeconds);
    } catch (const Poco::Net::NetException& exception) {
        LogError("NetException during ProtobufReader::readWholePacket: %s",
                 ExceptionText(exception).c_str());
        return ReadResult::ConnectionClosed;
    } catch (const Poco::Exception& exception) {
        LogError("Exception during ProtobufReader::readWholePacket: %s",
                 ExceptionText(exception).c_str());
        return ReadResult::ReadError;
    }
}

ReadResult ProtobufReader::receiveAndExtract(Header& header,
                                             std::vector<char>& contentBuffer,
                                             int timeoutSeconds) {
    socket.setReceiveTimeout(Poco::Timespan(timeoutSeconds, 0));

    // Every return below leaves fillCount under ReceiveBufferSize (a packet that could fill the
    // buffer without being whole is refused as soon as its length is known), so the socket is
    // never asked for zero bytes: that would block and then look like a closed peer.
    const int received = socket.receiveBytes(
        buffer.get() + fillCount, static_cast<int>(ReceiveBufferSize - fillCount), 0);
    if (received == 0) {
        LogInfo("Connection closed by remote host");
        return ReadResult::ConnectionClosed;
    }
    fillCount += static_cast<std::size_t>(received);
    return extractPacket(header, contentBuffer);
}

ReadResult ProtobufReader::extractPacket(Header& header, std::vector<char>& contentBuffer) {
    if (fillCount < PrefixLength) {
        return ReadResult::NeedMoreData;
    }
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(buffer.get());
    const std::uint16_t headerLength = static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
    if (PrefixLength + headerLength > ReceiveBufferSize) {
        LogWarning(
            "Packet header of length %hu exceeds the receive buffer of %u bytes, closing "
            "connection",
            headerLength,
            static_cast<unsigned>(ReceiveBufferSize));
        fillCount = 0;
        return ReadResult::ConnectionClosed;
    }
    if (fillCount < PrefixLength + headerLength) {
        return ReadResult::NeedMoreData;
    }

    Header parsed;
    if (!parsed.ParseFromArray(buffer.get() + PrefixLength, headerLength)) {
        LogWarning("Parse error while reading message of size %hu", headerLength);
        fillCount = 0;
        return ReadResult::HeaderParseError;
    }

    // 64-bit arithmetic: a `size` near 2^32 must not wrap into a small packet length.
    const std::uint64_t packetLength =
        static_cast<std::uint64_t>(PrefixLength) + headerLength + parsed.size();
    if (packetLength > ReceiveBufferSize) {
        LogWarning(
            "Packet of header length %hu and size %u exceeds the receive buffer of %u bytes, "
            "closing connection",
            headerLength,
            parsed.size(),
            static_cast<unsigned>(ReceiveBufferSize));
        fillCount = 0;
        return ReadResult::ConnectionClosed;
    }
    if (fillCount < packetLength) {
        return ReadResult::NeedMoreData;
    }

    header.CopyFrom(parsed);
    const char* body = buffer.get() + PrefixLength + headerLength;
    contentBuffer.assign(body, body + parsed.size());

    const std::size_t consumed = static_cast<std::size_t>(packetLength);
    std::memmove(buffer.get(), buffer.get() + consumed, fillCount - consumed);
    fillCount -= consumed;
    return ReadResult::PacketReady;
}

bool ProtobufReader::checkContentSize(const char* messageName,
                                      const std::vector<char>& contentBuffer,
                                      const Header& header) {
    if (header.size() == 0) {
        LogWarning("Failed parsing %s because header.size()==0", messageName);
        return false;
    }
    if (contentBuffer.size() < header.size()) {
        LogWarning("Failed parsing %s because header.size()==%u and contentBuffer.size()==%u",
                   messageName,
                   header.size(),
                   static_cast<unsigned>(contentBuffer.size()));
        return false;
    }
    return true;
}

template <typename Message>
bool ProtobufReader::parseBody(const char* messageName,
                               const char* failureLine,
                               const std::vector<char>& contentBuffer,
                               const Header& header,
                               Message& message) {
    if (!checkContentSize(messageName, contentBuffer, header)) {
        return false;
    }
    if (!message.ParseFromArray(contentBuffer.data(), static_cast<int>(header.size()))) {
        LogWarning("%s", failureLine);
        return false;
    }
    return true;
}

bool ProtobufReader::parseFixDirectoryPrivilegesRequest(const std::vector<char>& contentBuffer,
                                                        const Header& header,
                                                        FixDirectoryPrivilegesRequest& message) {
    return parseBody("FixDirectoryPrivilegesRequest",
                     "Failed parsing FixDirectoryPrivilegesRequest",
                     contentBuffer,
                     header,
                     message);
}

bool ProtobufReader::parseLaunchElevatedRequest(const std::vector<char>& contentBuffer,
                                                const Header& header,
                                                LaunchElevatedRequest& message) {
    return parseBody("LaunchElevatedRequest",
                     "Failed parsing LaunchElevatedRequest",
                     contentBuffer,
                     header,
                     message);
}

bool ProtobufReader::parseLaunchElevatedResponse(const std::vector<char>& contentBuffer,
                                                 const Header& header,
                                                 LaunchElevatedResponse& message) {
    return parseBody("LaunchElevatedResponse",
                     "Failed parsing LaunchElevatedResponse",
                     contentBuffer,
                     header,
                     message);
}

bool ProtobufReader::parseLibraryInfoResponse(const std::vector<char>& contentBuffer,
                                              const Header& header,
                                              LibraryInfoResponse& message) {
    return parseBody("LibraryInfoResponse",
                     "Failed parsing LibraryInfoResponse",
                     contentBuffer,
                     header,
                     message);
}

}  // namespace OrvaneClient
