#include "service/ServiceConnectionHandler.h"

#include "core/Protocols/orvane_desktop_service/Source/orvane_desktop_service.pb.h"
#include "core/logfacade/LogFacade.h"
#include "service/PeerText.h"

#include <Poco/Exception.h>
#include <Poco/NObserver.h>
#include <Poco/Net/SocketDefs.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace OrvaneClient {

namespace {

using qovex::protocols::pb::Header;
using qovex::protocols::pb::Response;
namespace desktop = orvane::protocols::desktop_service;

using ReadableObserver = Poco::NObserver<ServiceConnectionHandler, Poco::Net::ReadableNotification>;
using WritableObserver = Poco::NObserver<ServiceConnectionHandler, Poco::Net::WritableNotification>;
using ErrorObserver = Poco::NObserver<ServiceConnectionHandler, Poco::Net::ErrorNotification>;
using ShutdownObserver = Poco::NObserver<ServiceConnectionHandler, Poco::Net::ShutdownNotification>;

// The receive timeout of one read; a client that stalls mid-packet longer loses its connection.
constexpr int ReadTimeoutSeconds = 1;

// The request's sequence number as the log lines show it.
std::string SequenceText(const Header& header) {
    return header.has_oseq() ? std::to_string(header.oseq()) : std::string("-");
}

std::optional<std::uint32_t> RequestSequence(const Header& header) {
    if (header.has_oseq()) {
        return header.oseq();
    }
    return std::nullopt;
}

// Thrown from the first member's initializer, so that nothing of the handler is built.
template <typename Member>
Member RefuseLibraryFactory() {
    throw Poco::IllegalStateException("a connection handler needs its server's context");
}

}  // namespace

ServiceConnectionHandler::ServiceConnectionHandler(Poco::Net::StreamSocket& socket,
                                                   ConnectionContext& context)
    : socket(socket),
      reader(this->socket),
      sender(this->socket, [this](const std::string& packet) { queuePacket(packet); }),
      context(context),
      caller(this->socket),
      peerText(PeerText(socket)) {
    LogInfo("ServiceServer connected");
    Poco::Net::SocketReactor& reactor = context.reactor;
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
    readObserved = true;
    ++context.openConnections;
}

ServiceConnectionHandler::ServiceConnectionHandler(Poco::Net::StreamSocket& /*socket*/,
                                                   Poco::Net::SocketReactor& /*reactor*/)
    : socket(RefuseLibraryFactory<Poco::Net::StreamSocket>()),
      reader(this->socket),
      sender(this->socket),
      context(RefuseLibraryFactory<ConnectionContext&>()),
      caller(this->socket) {}

void ServiceConnectionHandler::setService(IOrvaneService* service) {
    this->service = service;
}

void ServiceConnectionHandler::onReadable(
    const Poco::AutoPtr<Poco::Net::ReadableNotification>& /*notification*/) {
    if (!readObserved) {
        // Unregistered earlier in this very pass.
        return;
    }
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
            startJob([this, header] { return handleAuthInfoRequest(header); });
            break;
        case desktop::LAUNCH_ELEVATED_REQUEST:
            startJob([this, header, contentBuffer] {
                return handleLaunchElevatedRequest(header, contentBuffer);
            });
            break;
        case desktop::FIX_DIRECTORY_PRIVILEGES_REQUEST:
            startJob([this, header, contentBuffer] {
                return handleFixDirectoryPrivilegesRequest(header, contentBuffer);
            });
            break;
        default:
            LogWarning(
                "Received unknown message %s type %u", SequenceText(header).c_str(), header.type());
            // The sender knows no response type for it and sends nothing: the client gets no
            // answer, and the connection stays open.
            sender.sendErrorReply(header, Response::NOT_IMPLEMENTED);
            break;
    }
    if (!closed) {
        updateObservers();
    }
}

void ServiceConnectionHandler::onShutdown(
    const Poco::AutoPtr<Poco::Net::ShutdownNotification>& /*notification*/) {
    disconnect();
}

void ServiceConnectionHandler::onWritable(
    const Poco::AutoPtr<Poco::Net::WritableNotification>& /*notification*/) {
    if (!writeObserved) {
        return;
    }
    try {
        flush();
    } catch (const Poco::Exception& exception) {
        LogWarning("Closing connection %s: writing its reply failed: %s",
                   peerText.c_str(),
                   exception.displayText().c_str());
        disconnect();
        return;
    }
    updateObservers();
}

void ServiceConnectionHandler::onError(
    const Poco::AutoPtr<Poco::Net::ErrorNotification>& /*notification*/) {
    // Only watched while reading is paused: the client reset the connection meanwhile.
    if (errorObserved) {
        disconnect();
    }
}

void ServiceConnectionHandler::startJob(std::function<Reply()> job) {
    jobRunning = true;
    context.reactor.workStarted();
    OrvaneServiceSocketReactor& reactor = context.reactor;
    context.workers.submit([this, &reactor, job = std::move(job)](bool cancelled) {
        Reply reply;
        if (!cancelled) {
            reply = job();
        }
        // The handler stays alive until finishJob: disconnect leaves its deletion to it.
        reactor.post([this, reply = std::move(reply)] { finishJob(reply); });
    });
}

void ServiceConnectionHandler::finishJob(const Reply& reply) {
    context.reactor.workEnded();
    jobRunning = false;
    if (closed) {
        delete this;
        return;
    }
    if (reply) {
        reply();
    }
    updateObservers();
}

void ServiceConnectionHandler::handleLibraryInfoRequest(const Header& header) {
    LogInfo("Received LibraryInfoRequest %s", SequenceText(header).c_str());
    const std::string location = service->getLibraryLocation();
    sender.sendLibraryInfoResponse(RequestSequence(header), location);
}

ServiceConnectionHandler::Reply ServiceConnectionHandler::handleAuthInfoRequest(
    const Header& header) {
    LogInfo("Received AuthInfoRequest %s", SequenceText(header).c_str());
    if (std::optional<Reply> refused = callerRefusal(header, "AuthInfoRequest")) {
        return *refused;
    }
    std::string token;
    if (service->getRefreshToken(token)) {
        return
            [this, header, token] { sender.sendAuthInfoResponse(RequestSequence(header), token); };
    }
    return [this, header] { sender.sendErrorReply(header, Response::NOT_FOUND); };
}

ServiceConnectionHandler::Reply ServiceConnectionHandler::handleLaunchElevatedRequest(
    const Header& header, const std::vector<char>& contentBuffer) {
    const std::string sequence = SequenceText(header);
    LogInfo("Received LaunchElevatedRequest %s", sequence.c_str());
    if (std::optional<Reply> refused = callerRefusal(header, "LaunchElevatedRequest")) {
        return *refused;
    }

    desktop::LaunchElevatedRequest request;
    if (!ProtobufReader::parseLaunchElevatedRequest(contentBuffer, header, request)) {
        LogWarning("Failed parsing LaunchElevatedRequest %s", sequence.c_str());
        return nullptr;
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

    return [this, header, launched, processId] {
        if (launched) {
            sender.sendLaunchElevatedResponse(RequestSequence(header), processId);
        } else {
            sender.sendErrorReply(header, Response::INTERNAL_ERROR);
        }
        LogInfo("LaunchElevatedRequest response sent");
    };
}

ServiceConnectionHandler::Reply ServiceConnectionHandler::handleFixDirectoryPrivilegesRequest(
    const Header& header, const std::vector<char>& contentBuffer) {
    LogInfo("Received FixDirectoryPrivilegesRequest %s", SequenceText(header).c_str());
    if (std::optional<Reply> refused = callerRefusal(header, "FixDirectoryPrivilegesRequest")) {
        return *refused;
    }

    desktop::FixDirectoryPrivilegesRequest request;
    // The parse function has logged why.
    if (!ProtobufReader::parseFixDirectoryPrivilegesRequest(contentBuffer, header, request)) {
        return nullptr;
    }

    const std::string& directory = request.directory();
    const bool fixed = service->fixDirectoryPrivileges(directory.c_str(), directory.size());
    LogInfo("FixDirectoryPrivilegesRequest complete: %d", fixed ? 1 : 0);

    return [this, header, fixed] {
        // This response never has a body: the code alone tells the outcome.
        sender.sendErrorReply(header, fixed ? Response::OK : Response::INTERNAL_ERROR);
        LogInfo("FixDirectoryPrivilegesRequest response sent");
    };
}

std::optional<ServiceConnectionHandler::Reply> ServiceConnectionHandler::callerRefusal(
    const Header& header, const char* request) {
    const std::optional<std::string> refusal = caller.refusal();
    if (!refusal) {
        return std::nullopt;
    }
    LogWarning("Refused %s %s from process %s: %s",
               request,
               SequenceText(header).c_str(),
               caller.processText().c_str(),
               refusal->c_str());
    return Reply([this, header] { sender.sendErrorReply(header, Response::FORBIDDEN); });
}

void ServiceConnectionHandler::queuePacket(const std::string& packet) {
    if (queued.empty()) {
        lastProgress = std::chrono::steady_clock::now();
    }
    queued += packet;
    flush();
}

void ServiceConnectionHandler::flush() {
    if (queued.empty() || closed) {
        return;
    }
    // Non-blocking for this write alone: the reader relies on the socket's receive timeout.
    socket.setBlocking(false);
    int sent = 0;
    try {
        sent = socket.sendBytes(queued.data(), static_cast<int>(queued.size()), 0);
    } catch (const Poco::IOException& exception) {
        socket.setBlocking(true);
        // The library reports a full socket buffer as an error: here it only means "not now".
        if (exception.code() != POCO_EWOULDBLOCK && exception.code() != POCO_EAGAIN) {
            throw;
        }
    } catch (...) {
        socket.setBlocking(true);
        throw;
    }
    socket.setBlocking(true);
    if (sent > 0) {
        queued.erase(0, static_cast<size_t>(sent));
        lastProgress = std::chrono::steady_clock::now();
    }
}

void ServiceConnectionHandler::updateObservers() {
    Poco::Net::SocketReactor& reactor = context.reactor;
    const bool read = !jobRunning && queued.size() <= MaxQueuedBytes;
    const bool write = !queued.empty();
    // While not reading, a reset by the client is seen as an error alone.
    const bool error = !read;
    const bool wasWriting = writeObserved;

    // The reactor polls a socket for what its observers wanted when one was last added; removing
    // one while others stay changes nothing. A paused connection would stay polled for reading
    // and a drained one for writing, each pass would be ready at once and the loop would spin.
    // Dropping every observer drops the socket from the poll set; adding the wanted ones back
    // polls it for those alone.
    if ((readObserved && !read) || (writeObserved && !write) || (errorObserved && !error)) {
        removeObservers();
        reactor.addEventHandler(socket,
                                ShutdownObserver(*this, &ServiceConnectionHandler::onShutdown));
    }
    if (write && !writeObserved) {
        reactor.addEventHandler(socket,
                                WritableObserver(*this, &ServiceConnectionHandler::onWritable));
    }
    if (read && !readObserved) {
        reactor.addEventHandler(socket,
                                ReadableObserver(*this, &ServiceConnectionHandler::onReadable));
    }
    if (error && !errorObserved) {
        reactor.addEventHandler(socket, ErrorObserver(*this, &ServiceConnectionHandler::onError));
    }
    writeObserved = write;
    readObserved = read;
    errorObserved = error;

    if (write && !wasWriting) {
        context.reactor.schedule(
            this,
            lastProgress + std::chrono::microseconds(context.stallTimeout.totalMicroseconds()),
            [this] { checkStall(); });
    } else if (!write && wasWriting) {
        context.reactor.cancel(this);
    }
}

void ServiceConnectionHandler::removeObservers() {
    Poco::Net::SocketReactor& reactor = context.reactor;
    if (readObserved) {
        reactor.removeEventHandler(socket,
                                   ReadableObserver(*this, &ServiceConnectionHandler::onReadable));
    }
    if (writeObserved) {
        reactor.removeEventHandler(socket,
                                   WritableObserver(*this, &ServiceConnectionHandler::onWritable));
    }
    if (errorObserved) {
        reactor.removeEventHandler(socket,
                                   ErrorObserver(*this, &ServiceConnectionHandler::onError));
    }
    // Last: the handler stays registered until it is wholly removed.
    reactor.removeEventHandler(socket,
                               ShutdownObserver(*this, &ServiceConnectionHandler::onShutdown));
    readObserved = writeObserved = errorObserved = false;
}

void ServiceConnectionHandler::checkStall() {
    if (queued.empty()) {
        return;
    }
    const auto stallTimeout = std::chrono::microseconds(context.stallTimeout.totalMicroseconds());
    const auto now = std::chrono::steady_clock::now();
    if (now - lastProgress < stallTimeout) {
        context.reactor.schedule(this, lastProgress + stallTimeout, [this] { checkStall(); });
        return;
    }
    LogWarning("Closing connection %s: it took none of its %u queued reply bytes for %ld ms",
               peerText.c_str(),
               static_cast<unsigned>(queued.size()),
               static_cast<long>(context.stallTimeout.totalMilliseconds()));
    disconnect();
}

void ServiceConnectionHandler::disconnect() {
    LogInfo("ServiceConnectionHandler disconnecting");
    // The observers go before the socket closes: removing them from the poll set needs the
    // open descriptor, and a failed removal would leave the handler registered and leaked.
    removeObservers();
    context.reactor.cancel(this);
    socket.close();
    closed = true;
    --context.openConnections;
    // A running job still uses the handler; its completion deletes it.
    if (!jobRunning) {
        delete this;
    }
}

}  // namespace OrvaneClient
