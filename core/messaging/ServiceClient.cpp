#include "core/messaging/ServiceClient.h"

#include "core/Protocols/orvane_desktop_service/Source/orvane_desktop_service.pb.h"
#include "core/messaging/ProtobufReader.h"
#include "core/messaging/ProtobufSender.h"

#include <Poco/Exception.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Timestamp.h>

#include <utility>

namespace OrvaneClient {
namespace {

namespace desktop = orvane::protocols::desktop_service;

bool SendRequest(ProtobufSender& sender, const ServiceRequest& request) {
    switch (request.kind) {
        case RequestKind::LibraryInfo:
            return sender.sendLibraryInfoRequest(request.oseq);
        case RequestKind::AuthInfo:
            // The requesting side has no sender of its own for this request: it has no body.
            try {
                sender.sendMessage(request.oseq,
                                   std::nullopt,
                                   desktop::AUTH_INFO_REQUEST,
                                   std::string(),
                                   std::nullopt);
                return true;
            } catch (const Poco::Exception&) {
                return false;
            }
        case RequestKind::Launch:
            return sender.sendLaunchElevatedRequest(request.oseq,
                                                    request.processPath,
                                                    request.commandLineArgs,
                                                    request.workingDir,
                                                    request.elevated);
        case RequestKind::FixDirectory:
            return sender.sendFixDirectoryPrivilegesRequest(request.oseq, request.directory);
    }
    return false;
}

}  // namespace

ServiceClient::ServiceClient(ServiceClientSettings settings) : settings(std::move(settings)) {}

ExchangeResult ServiceClient::exchange(const ServiceRequest& request) {
    ExchangeResult result;
    Poco::Net::StreamSocket socket;
    bool connected = false;
    try {
        socket.connect(Poco::Net::SocketAddress(settings.host, settings.port), settings.timeout);
        connected = true;
    } catch (const Poco::Net::ConnectionRefusedException& exception) {
        // Nothing listens: the service is stopped, unless starting it is not ours to do.
        result.status = ExchangeStatus::ConnectFailed;
        result.detail = exception.displayText();
        if (!settings.startService) {
            return result;
        }
    } catch (const Poco::Exception& exception) {
        result.status = ExchangeStatus::ConnectFailed;
        result.detail = exception.displayText();
        return result;
    }
    if (!connected) {
        const std::string refused = result.detail;
        if (!startTheService(result)) {
            return result;
        }
        // The service listens before it reports RUNNING (its listener is bound as it is
        // constructed), so a refusal now means it does not listen where we connect.
        try {
            // A fresh socket: the one whose connect failed cannot connect again.
            Poco::Net::StreamSocket attempt;
            attempt.connect(Poco::Net::SocketAddress(settings.host, settings.port),
                            settings.timeout);
            socket = attempt;
        } catch (const Poco::Net::ConnectionRefusedException&) {
            result.status = ExchangeStatus::ConnectFailed;
            result.detail = refused + "; the service \"" + settings.serviceName +
                            "\" is running, but does not listen there";
            return result;
        } catch (const Poco::Exception& exception) {
            result.status = ExchangeStatus::ConnectFailed;
            result.detail = exception.displayText();
            return result;
        }
        if (result.responder.start == ServiceStart::None) {
            // Not running when we connected, running when we asked: another caller started it.
            result.responder.start = ServiceStart::ByAnotherRequest;
        }
    }

    // Library-info asks for nothing private and changes nothing; everything else goes only to
    // the service itself, checked before it is sent. Otherwise who answered is looked up after
    // the reply, so that the request goes out at once.
    const bool needsTheService =
        settings.requireService && request.kind != RequestKind::LibraryInfo;
    if (needsTheService) {
        identifyResponder(socket, result.responder);
        if (!result.responder.verified) {
            result.status = ExchangeStatus::NotTheService;
            return result;
        }
    }

    try {
        ProtobufReader reader(socket);
        ProtobufSender sender(socket);
        if (!SendRequest(sender, request)) {
            result.status = ExchangeStatus::SendFailed;
        } else {
            awaitReply(socket, reader, result);
        }
    } catch (const Poco::Exception& exception) {
        // Setting the socket options or polling failed: the connection is not usable.
        result.status = ExchangeStatus::ReadFailed;
        result.detail = exception.displayText();
    }
    if (!needsTheService) {
        identifyResponder(socket, result.responder);
    }
    return result;
}

void ServiceClient::identifyResponder(const Poco::Net::StreamSocket& socket,
                                      Responder& responder) const {
    std::string acceptorProblem;
    std::string serviceProblem;
    // The row of the service's end of this connection, not the listener's: a process that
    // accepted it and then gave up the port is still the one at the other end. Where the table
    // names no owner for the row, nobody can be verified.
    responder.acceptorPid = AcceptingProcess(socket, acceptorProblem);
    responder.servicePid = settings.serviceProcess
                               ? settings.serviceProcess(serviceProblem)
                               : queryServicePid(serviceProblem, responder.scmError);
    responder.verified =
        responder.acceptorPid != 0 && responder.acceptorPid == responder.servicePid;
    responder.problem = !acceptorProblem.empty() ? acceptorProblem : serviceProblem;
}

void ServiceClient::awaitReply(Poco::Net::StreamSocket& socket,
                               ProtobufReader& reader,
                               ExchangeResult& result) const {
    // Wait for readability first, so the deadline is ours to the millisecond; each read then
    // finds data (or the end of the stream) at once. Every pass either consumes time or bytes,
    // and the deadline ends a reply that trickles in forever.
    const Poco::Timestamp sent;
    for (;;) {
        const Poco::Timespan left = settings.timeout - Poco::Timespan(sent.elapsed());
        if (left <= 0 || !socket.poll(left, Poco::Net::Socket::SELECT_READ)) {
            result.status = ExchangeStatus::TimedOut;
            return;
        }
        switch (reader.readWholePacket(result.header, result.body, 1)) {
            case ReadResult::PacketReady:
                result.status = ExchangeStatus::Replied;
                return;
            case ReadResult::NeedMoreData:
                break;
            case ReadResult::HeaderParseError:
                result.status = ExchangeStatus::HeaderUnparsable;
                return;
            case ReadResult::ConnectionClosed:
                result.status = ExchangeStatus::ConnectionClosed;
                return;
            case ReadResult::ReadError:
                result.status = ExchangeStatus::ReadFailed;
                return;
        }
    }
}

}  // namespace OrvaneClient
