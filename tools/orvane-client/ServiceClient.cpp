#include "tools/orvane-client/ServiceClient.h"

#include "core/Protocols/orvane_desktop_service/Source/orvane_desktop_service.pb.h"
#include "core/messaging/ProtobufReader.h"
#include "core/messaging/ProtobufSender.h"

#include <Poco/Exception.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/Timestamp.h>

#include <utility>

namespace OrvaneClient {
namespace {

bool SendRequest(ProtobufSender& sender, const ClientOptions& options) {
    switch (options.command) {
        case ClientCommand::LibraryInfo:
            return sender.sendLibraryInfoRequest(options.oseq);
        case ClientCommand::AuthInfo:
            // The requesting side has no sender of its own for this request: it has no body.
            try {
                sender.sendMessage(options.oseq,
                                   std::nullopt,
                                   orvane::protocols::desktop_service::AUTH_INFO_REQUEST,
                                   std::string(),
                                   std::nullopt);
                return true;
            } catch (const Poco::Exception&) {
                return false;
            }
        case ClientCommand::Launch:
            return sender.sendLaunchElevatedRequest(options.oseq,
                                                    options.processPath,
                                                    options.commandLineArgs,
                                                    options.workingDir,
                                                    options.elevated);
        case ClientCommand::FixDirectory:
            return sender.sendFixDirectoryPrivilegesRequest(options.oseq, options.directory);
    }
    return false;
}

}  // namespace

ServiceClient::ServiceClient(std::string host, std::uint16_t port, Poco::Timespan timeout)
    : host(std::move(host)), port(port), timeout(timeout) {}

ExchangeResult ServiceClient::exchange(const ClientOptions& options) {
    ExchangeResult result;
    Poco::Net::StreamSocket socket;
    try {
        socket.connect(Poco::Net::SocketAddress(host, port), timeout);
    } catch (const Poco::Exception& exception) {
        result.status = ExchangeStatus::ConnectFailed;
        result.detail = exception.displayText();
        return result;
    }

    try {
        ProtobufReader reader(socket);
        ProtobufSender sender(socket);
        if (!SendRequest(sender, options)) {
            result.status = ExchangeStatus::SendFailed;
            return result;
        }

        // Wait for readability first, so the deadline is ours to the millisecond; each read
        // then finds data (or the end of the stream) at once. Every pass either consumes time
        // or bytes, and the deadline ends a reply that trickles in forever.
        const Poco::Timestamp sent;
        for (;;) {
            const Poco::Timespan left = timeout - Poco::Timespan(sent.elapsed());
            if (left <= 0 || !socket.poll(left, Poco::Net::Socket::SELECT_READ)) {
                result.status = ExchangeStatus::TimedOut;
                return result;
            }
            switch (reader.readWholePacket(result.header, result.body, 1)) {
                case ReadResult::PacketReady:
                    result.status = ExchangeStatus::Replied;
                    return result;
                case ReadResult::NeedMoreData:
                    break;
                case ReadResult::HeaderParseError:
                    result.status = ExchangeStatus::HeaderUnparsable;
                    return result;
                case ReadResult::ConnectionClosed:
                    result.status = ExchangeStatus::ConnectionClosed;
                    return result;
                case ReadResult::ReadError:
                    result.status = ExchangeStatus::ReadFailed;
                    return result;
            }
        }
    } catch (const Poco::Exception& exception) {
        // Setting the socket options or polling failed: the connection is not usable.
        result.status = ExchangeStatus::ReadFailed;
        result.detail = exception.displayText();
        return result;
    }
}

}  // namespace OrvaneClient
