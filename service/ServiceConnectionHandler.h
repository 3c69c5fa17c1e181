#pragma once

#include "core/Protocols/qovex_pb/Source/qovex_pb.pb.h"
#include "core/messaging/ProtobufReader.h"
#include "core/messaging/ProtobufSender.h"
#include "service/CallerVerifier.h"
#include "service/ConnectionContext.h"
#include "service/IOrvaneService.h"

#include <Poco/AutoPtr.h>
#include <Poco/Net/SocketNotification.h>
#include <Poco/Net/SocketReactor.h>
#include <Poco/Net/StreamSocket.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace OrvaneClient {

// Serves one accepted client connection: for each readable notification it takes at most one
// packet, dispatches it by type to the service and answers through the sender. Requests of an
// unknown type and bodies that do not parse are logged and left unanswered; the connection
// stays open until the client closes it, a read fails, it stalls, or the reactor shuts down.
//
// Never held by its client: library-info is answered on the reactor thread, the other requests
// (with the caller check before them) run on the context's worker pool, and their answer is
// written back on the reactor thread. While a request runs, nothing more is read from the
// connection, so its requests are answered in order. Replies go through a queue: what the socket
// does not take at once waits for it to become writable; while more than MaxQueuedBytes wait,
// nothing is read; a connection that takes none of them for the stall timeout is closed with a
// warning naming it.
//
// Ownership: allocated with new by the acceptor, which keeps no reference. The handler owns
// itself and deletes itself once it is disconnected and no job of it is running; nothing else may
// delete it. Thread: the reactor thread, except the job's own part on a worker, which touches
// only the request it was given, `service` and `caller`. Takes no lock.
class ServiceConnectionHandler {
public:
    static constexpr size_t MaxQueuedBytes = 64 * 1024;

    // Takes a copy of `socket`, builds the reader and sender on it (TCP no-delay and
    // keep-alive on), logs "ServiceServer connected", counts itself open in `context` and
    // registers its readable and shutdown observers with the context's reactor. Exceptions of
    // the networking library pass to the caller, which then owns nothing: no observer stays
    // registered.
    ServiceConnectionHandler(Poco::Net::StreamSocket& socket, ConnectionContext& context);
    // What the library acceptor's own factory calls; the service's acceptor replaces that
    // factory, so this only throws Poco::IllegalStateException.
    ServiceConnectionHandler(Poco::Net::StreamSocket& socket, Poco::Net::SocketReactor& reactor);

    ServiceConnectionHandler(const ServiceConnectionHandler&) = delete;
    ServiceConnectionHandler& operator=(const ServiceConnectionHandler&) = delete;

    // The service the requests go to; not owned. Set once, right after construction, before
    // any notification can arrive.
    void setService(IOrvaneService* service);

    // Exactly one readWholePacket per notification, so at most one request per notification.
    // May delete this handler (closed peer, failed read).
    void onReadable(const Poco::AutoPtr<Poco::Net::ReadableNotification>& notification);
    // Deletes this handler, or leaves that to the end of its running job.
    void onShutdown(const Poco::AutoPtr<Poco::Net::ShutdownNotification>& notification);

private:
    // What a job hands back to the reactor thread: the answer to write, if any.
    using Reply = std::function<void()>;

    // Only disconnect() and finishJob() delete a handler.
    ~ServiceConnectionHandler() = default;

    void onWritable(const Poco::AutoPtr<Poco::Net::WritableNotification>& notification);
    void onError(const Poco::AutoPtr<Poco::Net::ErrorNotification>& notification);

    void handleLibraryInfoRequest(const qovex::protocols::pb::Header& header);
    // The long requests: each runs on a worker and returns the answer to write.
    Reply handleAuthInfoRequest(const qovex::protocols::pb::Header& header);
    Reply handleLaunchElevatedRequest(const qovex::protocols::pb::Header& header,
                                      const std::vector<char>& contentBuffer);
    Reply handleFixDirectoryPrivilegesRequest(const qovex::protocols::pb::Header& header,
                                              const std::vector<char>& contentBuffer);

    // Runs `job` on the pool; reading pauses until its answer is written.
    void startJob(std::function<Reply()> job);
    void finishJob(const Reply& reply);

    // Empty when the calling process may have this privileged request served. Otherwise logs a
    // warning naming the request and the reason and returns the FORBIDDEN (403) answer: the
    // operation must not run.
    std::optional<Reply> callerRefusal(const qovex::protocols::pb::Header& header,
                                       const char* request);

    // The sender's sink: queues `packet` and writes what the socket takes now.
    void queuePacket(const std::string& packet);
    // Writes what the socket takes without waiting. Exceptions of the networking library pass.
    void flush();
    // Registers exactly the observers the handler's state calls for, and the stall timer.
    void updateObservers();
    // Unregisters every observer of the socket, the shutdown one last; the reactor then no
    // longer polls it.
    void removeObservers();
    void checkStall();

    // Logs "ServiceConnectionHandler disconnecting", unregisters every observer, closes the
    // socket and deletes this handler unless a job of it runs. Nothing may touch the handler
    // afterwards.
    void disconnect();

    Poco::Net::StreamSocket socket;
    ProtobufReader reader;
    ProtobufSender sender;
    ConnectionContext& context;
    IOrvaneService* service = nullptr;
    CallerVerifier caller;
    // The client's end, for the log lines that name the connection.
    std::string peerText;

    std::string queued;
    std::chrono::steady_clock::time_point lastProgress;
    bool jobRunning = false;
    bool closed = false;
    bool readObserved = false;
    bool writeObserved = false;
    bool errorObserved = false;
};

}  // namespace OrvaneClient
