#include "service/ServiceConnectionHandler.h"

#include "core/Protocols/orvane_desktop_service/Source/orvane_desktop_service.pb.h"
#include "core/logging/LogFacade.h"

#include <Poco/NObserver.h>

#include <cstdint>
#include <optional>
#include <string>

namespace OrvaneClient {

namespace {

using qovex::protocols::pb::Header;
using qovex::protocols::pb::Response;
namespace desktop = orvane::protocols::desktop_service;

using ReadableObserver = Poco::NObserver<ServiceConnectionHandler, Poco::Net::ReadableNotification>;
using ShutdownObserver = Poco::NObserver<ServiceConnectionHandler, Poco::Net::ShutdownNotification>;

// The receive timeout of one read; a client that stalls mid-packet longer loses its connection.
constexpr int ReadTimeoutSeconds = 1;

// The request's sequence number as the log lines show it.
std::string sequenceText(const Header& header) {
    return header.has_oseq() ? std::to_string(header.oseq()) : std::string("-");
}

std::optional<std::uint32_t> requestSequence(const Header& header) {
    if (header.has_oseq()) {
        return header.oseq();
    }
    return std::nullopt;
}

}  // namespace

ServiceConnectionHandler::ServiceConnectionHandler(Poco::Net::StreamSocket& socket,
                                                   Poco::Net::SocketReactor& reactor)
    : socket(socket),
      reader(this->socket),
      sender(this->socket),
      reactor(reactor),
      caller(this->socket) {
    LogInfo("ServiceServer connected");
    reactor.addEventHandler(this->socket,
                            ReadableObserver(*this, &ServiceConnectionHandler::onReadable));
    try {
        reactor.addEventHandler(this->socket,
                                ShutdownObserver(*this, &ServiceConnectionHandler::onShutdown));
    } catch (...) {
        // The object is about to vanish with the exception: no observer may outlive it.
        reactor.removeEventHandler(this->socket,
                                   ReadableObserver(*this, &ServiceConnectionHandler::onReadable));
        throw;
    }
}

void ServiceConnectionHandler::setService(IOrvaneService* service) {
    this->service = service;
}

void ServiceConnectionHandler::onReadable(
    const Poco::AutoPtr<Poco::Net::ReadableNotification>& /*notification*/) {
    Header header;
    std::vector<char> contentBuffer;
    switch (reader.readWholePacket(header, contentBuffer, ReadTimeoutSeconds)) {
        case ReadResult::PacketReady:
            break;
        case ReadResult::ReadError:
        case ReadResult::ConnectionClosed:
            disconnect();
            return;
        case ReadResult::NeedMoreData:
        case ReadResult::HeaderParseError:
            return;
    }

    switch (header.type()) {
        case desktop::LIBRARY_INFO_REQUEST:
            handleLibraryInfoRequest(header);
            break;
        case desktop::AUTH_INFO_REQUEST:
            handleAuthInfoRequest(header);
            break;
        case desktop::LAUNCH_ELEVATED_REQUEST:
            handleLaunchElevatedRequest(header, contentBuffer);
            break;
        case desktop::FIX_DIRECTORY_PRIVILEGES_REQUEST:
            handleFixDirectoryPrivilegesRequest(header, contentBuffer);
            break;
        default:
            LogWarning(
                "Received unknown message %s type %u", sequenceText(header).c_str(), header.type());
            // The sender knows no response type for it and sends nothing: the client gets no
            // answer, and the connection stays open.
            sender.sendErrorReply(header, Response::NOT_IMPLEMENTED);
            break;
    }
}

void ServiceConnectionHandler::onShutdown(
    const Poco::AutoPtr<Poco::Net::ShutdownNotification>& /*notification*/) {
    disconnect();
}

void ServiceConnectionHandler::handleLibraryInfoRequest(const Header& header) {
    LogInfo("Received LibraryInfoRequest %s", sequenceText(header).c_str());
    const std::string location = service->getLibraryLocation();
    sender.sendLibraryInfoResponse(requestSequence(header), location);
}

void ServiceConnectionHandler::handleAuthInfoRequest(const Header& header) {
    LogInfo("Received AuthInfoRequest %s", sequenceText(header).c_str());
    if (!callerMayAsk(header, "AuthInfoRequest")) {
        return;
    }
    std::string token;
    if (service->getRefreshToken(token)) {
        sender.sendAuthInfoResponse(requestSequence(header), token);
    } else {
        sender.sendErrorReply(header, Response::NOT_FOUND);
    }
}

void ServiceConnectionHandler::handleLaunchElevatedRequest(const Header& header,
                                                           const std::vector<char>& contentBuffer) {
    const std::string sequence = sequenceText(header);
    LogInfo("Received LaunchElevatedRequest %s", sequence.c_str());
    if (!callerMayAsk(header, "LaunchElevatedRequest")) {
        return;
    }

    desktop::LaunchElevatedRequest request;
    if (!ProtobufReader::parseLaunchElevatedRequest(contentBuffer, header, request)) {
        LogWarning("Failed parsing LaunchElevatedRequest %s", sequence.c_str());
        return;
    }

    const std::string processPath = request.process_path();
    const std::string commandLineArgs = request.command_line_args();
    const std::string workingDir = request.working_dir();
    uint32_t processId = 0;
    const bool launched = service->launchProcess(processPath.c_str(),
                                                 commandLineArgs.c_str(),
                                                 workingDir.c_str(),
                                                 request.elevated(),
                                                 &processId);
    LogInfo("LaunchElevatedRequest complete: %d", launched ? 1 : 0);

    if (launched) {
        sender.sendLaunchElevatedResponse(requestSequence(header), processId);
    } else {
        sender.sendErrorReply(header, Response::INTERNAL_ERROR);
    }
    LogInfo("LaunchElevatedRequest response sent");
}

void ServiceConnectionHandler::handleFixDirectoryPrivilegesRequest(
    const Header& header, const std::vector<char>& contentBuffer) {
    LogInfo("Received FixDirectoryPrivilegesRequest %s", sequenceText(header).c_str());
    if (!callerMayAsk(header, "FixDirectoryPrivilegesRequest")) {
        return;
    }

    desktop::FixDirectoryPrivilegesRequest request;
    // The parse function has logged why.
    if (!ProtobufReader::parseFixDirectoryPrivilegesRequest(contentBuffer, header, request)) {
        return;
    }

    const std::string& directory = request.directory();
    const bool fixed = service->fixDirectoryPrivileges(directory.c_str(), directory.size());
    LogInfo("FixDirectoryPrivilegesRequest complete: %d", fixed ? 1 : 0);

    // This response never has a body: the code alone tells the outcome.
    sender.sendErrorReply(header, fixed ? Response::OK : Response::INTERNAL_ERROR);
    LogInfo("FixDirectoryPrivilegesRequest response sent");
}

bool ServiceConnectionHandler::callerMayAsk(const Header& header, const char* request) {
    const std::optional<std::string> refusal = caller.refusal();
    if (!refusal) {
        return true;
    }
    LogWarning("Refused %s %s from process %s: %s",
               request,
               sequenceText(header).c_str(),
               caller.processText().c_str(),
               refusal->c_str());
    sender.sendErrorReply(header, Response::FORBIDDEN);
    return false;
}

void ServiceConnectionHandler::disconnect() {
    LogInfo("ServiceConnectionHandler disconnecting");
    // The observers go before the socket closes: removing them from the poll set needs the
    // open descriptor, and a failed removal would leave the handler registered and leaked.
    reactor.removeEventHandler(socket,
                               ReadableObserver(*this, &ServiceConnectionHandler::onReadable));
    reactor.removeEventHandler(socket,
                               ShutdownObserver(*this, &ServiceConnectionHandler::onShutdown));
    socket.close();
    delete this;
}

}  // namespace OrvaneClient
