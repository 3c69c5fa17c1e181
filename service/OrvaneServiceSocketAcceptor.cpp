#include "service/OrvaneServiceSocketAcceptor.h"

#include "core/logfacade/LogFacade.h"
#include "service/PeerText.h"

#include <Poco/Exception.h>
#include <Poco/Net/SocketDefs.h>
#include <Poco/Observer.h>

#include <cerrno>
#include <chrono>
#include <string>

namespace OrvaneClient {

namespace {

using AcceptObserver = Poco::Observer<OrvaneServiceSocketAcceptor, Poco::Net::ReadableNotification>;

// Errors of accept() that mean "no descriptor or buffer to spare", not "this connection failed".
bool IsResourceShortage(int code) {
    return code == POCO_EMFILE || code == POCO_ENOBUFS || code == ENFILE;
}

// A connection over the cap is logged at most once a second.
constexpr Poco::Clock::ClockDiff RefusalLineIntervalMicroseconds = 1000 * 1000;

}  // namespace

// The base is built without a reactor so that it registers nothing: the accept routine
// registered here is this class's own.
OrvaneServiceSocketAcceptor::OrvaneServiceSocketAcceptor(Poco::Net::ServerSocket& socket,
                                                         OrvaneServiceSocketReactor& reactor,
                                                         WorkerPool& workers,
                                                         IOrvaneService* service,
                                                         const Poco::Timespan& stallTimeout)
    : Poco::Net::SocketAcceptor<ServiceConnectionHandler>(socket),
      listeningSocket(socket),
      service(service),
      context{reactor, workers, stallTimeout} {
    registerAcceptor(reactor);
}

OrvaneServiceSocketAcceptor::~OrvaneServiceSocketAcceptor() {
    try {
        context.reactor.cancel(this);
        unregisterAcceptor();
    } catch (...) {
        // Destructors never throw; the reactor is not dispatching any more.
    }
}

void OrvaneServiceSocketAcceptor::registerAcceptor(Poco::Net::SocketReactor& reactor) {
    acceptReactor = &reactor;
    const AcceptObserver observer(*this, &OrvaneServiceSocketAcceptor::onAccept);
    if (!reactor.hasEventHandler(listeningSocket, observer)) {
        reactor.addEventHandler(listeningSocket, observer);
    }
}

void OrvaneServiceSocketAcceptor::unregisterAcceptor() {
    if (acceptReactor != nullptr) {
        acceptReactor->removeEventHandler(
            listeningSocket, AcceptObserver(*this, &OrvaneServiceSocketAcceptor::onAccept));
    }
}

ServiceConnectionHandler* OrvaneServiceSocketAcceptor::createServiceHandler(
    Poco::Net::StreamSocket& socket) {
    auto* handler = new ServiceConnectionHandler(socket, context);
    handler->setService(service);
    return handler;
}

void OrvaneServiceSocketAcceptor::onAccept(Poco::Net::ReadableNotification* notification) {
    notification->release();

    Poco::Net::StreamSocket connection;
    try {
        connection = listeningSocket.acceptConnection();
    } catch (const Poco::Exception& exception) {
        if (!IsResourceShortage(exception.code())) {
            throw;
        }
        if (!outOfDescriptors) {
            outOfDescriptors = true;
            LogWarning("Cannot accept connections, out of resources (%s); retrying every %ld ms",
                       exception.displayText().c_str(),
                       AcceptBackOffMilliseconds);
        }
        // The pending connection keeps the listening socket readable: watching it on would fail
        // the same way on every pass. The loop goes on serving the open connections meanwhile.
        unregisterAcceptor();
        context.reactor.schedule(
            this,
            std::chrono::steady_clock::now() + std::chrono::milliseconds(AcceptBackOffMilliseconds),
            [this] { registerAcceptor(*acceptReactor); });
        return;
    }
    if (outOfDescriptors) {
        outOfDescriptors = false;
        LogInfo("Accepting connections again");
    }
    if (context.openConnections >= MaxOpenConnections) {
        if (!lastRefusalLine || lastRefusalLine->elapsed() >= RefusalLineIntervalMicroseconds) {
            lastRefusalLine.emplace();
            LogWarning("Closing connection %s at once: %d connections are open",
                       PeerText(connection).c_str(),
                       context.openConnections);
        }
        connection.close();
        return;
    }
    createServiceHandler(connection);
}

}  // namespace OrvaneClient
