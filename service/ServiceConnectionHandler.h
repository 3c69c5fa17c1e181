#pragma once

#include "core/Protocols/qovex_pb/Source/qovex_pb.pb.h"
#include "core/messaging/ProtobufReader.h"
#include "core/messaging/ProtobufSender.h"
#include "service/CallerVerifier.h"
#include "service/IOrvaneService.h"

#include <Poco/AutoPtr.h>
#include <Poco/Net/SocketNotification.h>
#include <Poco/Net/SocketReactor.h>
#include <Poco/Net/StreamSocket.h>

#include <vector>

namespace OrvaneClient {

// Serves one accepted client connection: for each readable notification it takes at most one
// packet, dispatches it by type to the service and answers through the sender. Requests of an
// unknown type and bodies that do not parse are logged and left unanswered; the connection
// stays open until the client closes it, a read fails, or the reactor shuts down.
//
// Ownership: allocated with new by the acceptor, which keeps no reference. The handler owns
// itself and deletes itself in `disconnect`; nothing else may delete it.
// Thread: everything runs on the reactor thread. Takes no lock.
class ServiceConnectionHandler {
public:
    // Takes a copy of `socket`, builds the reader and sender on it (TCP no-delay and
    // keep-alive on), logs "ServiceServer connected" and registers its readable and shutdown
    // observers with `reactor`. Exceptions of the networking library pass to the caller, which
    // then owns nothing: no observer stays registered.
    ServiceConnectionHandler(Poco::Net::StreamSocket& socket, Poco::Net::SocketReactor& reactor);

    ServiceConnectionHandler(const ServiceConnectionHandler&) = delete;
    ServiceConnectionHandler& operator=(const ServiceConnectionHandler&) = delete;

    // The service the requests go to; not owned. Set once, right after construction, before
    // any notification can arrive.
    void setService(IOrvaneService* service);

    // Exactly one readWholePacket per notification, so at most one request per notification.
    // May delete this handler (closed peer, failed read).
    void onReadable(const Poco::AutoPtr<Poco::Net::ReadableNotification>& notification);
    // Deletes this handler.
    void onShutdown(const Poco::AutoPtr<Poco::Net::ShutdownNotification>& notification);

private:
    // Only disconnect() deletes a handler.
    ~ServiceConnectionHandler() = default;

    void handleLibraryInfoRequest(const qovex::protocols::pb::Header& header);
    void handleAuthInfoRequest(const qovex::protocols::pb::Header& header);
    void handleLaunchElevatedRequest(const qovex::protocols::pb::Header& header,
                                     const std::vector<char>& contentBuffer);
    void handleFixDirectoryPrivilegesRequest(const qovex::protocols::pb::Header& header,
                                             const std::vector<char>& contentBuffer);

    // True when the calling process may have this privileged request served. Otherwise logs a
    // warning naming the request and the reason, answers with FORBIDDEN (403) and returns false:
    // the operation must not run.
    bool callerMayAsk(const qovex::protocols::pb::Header& header, const char* request);

    // Logs "ServiceConnectionHandler disconnecting", unregisters both observers, closes the
    // socket and deletes this handler. Nothing may touch the handler afterwards.
    void disconnect();

    Poco::Net::StreamSocket socket;
    ProtobufReader reader;
    ProtobufSender sender;
    Poco::Net::SocketReactor& reactor;
    IOrvaneService* service = nullptr;
    CallerVerifier caller;
};

}  // namespace OrvaneClient
