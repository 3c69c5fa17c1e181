#include "service/OrvaneServiceSocketAcceptor.h"

#include "core/logging/LogFacade.h"

#include <Poco/Exception.h>
#include <Poco/Net/SocketDefs.h>
#include <Poco/Observer.h>
#include <Poco/Thread.h>

#include <cerrno>

namespace OrvaneClient {

namespace {

using AcceptObserver = Poco::Observer<OrvaneServiceSocketAcceptor, Poco::Net::ReadableNotification>;

// Errors of accept() that mean "no descriptor or buffer to spare", not "this connection failed".
bool isResourceShortage(int code) {
    return code == POCO_EMFILE || code == POCO_ENOBUFS || code == ENFILE;
}

}  // namespace

// The base is built without a reactor so that it registers nothing: the accept routine
// registered here is this class's own.
OrvaneServiceSocketAcceptor::OrvaneServiceSocketAcceptor(Poco::Net::ServerSocket& socket,
                                                         Poco::Net::SocketReactor& reactor,
                                                         IOrvaneService* service)
    : Poco::Net::SocketAcceptor<ServiceConnectionHandler>(socket),
      listeningSocket(socket),
      service(service) {
    registerAcceptor(reactor);
}

OrvaneServiceSocketAcceptor::~OrvaneServiceSocketAcceptor() {
    try {
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
    auto* handler = new ServiceConnectionHandler(socket, *acceptReactor);
    handler->setService(service);
    return handler;
}

void OrvaneServiceSocketAcceptor::onAccept(Poco::Net::ReadableNotification* notification) {
    notification->release();

    Poco::Net::StreamSocket connection;
    try {
        connection = listeningSocket.acceptConnection();
    } catch (const Poco::Exception& exception) {
        if (!isResourceShortage(exception.code())) {
            throw;
        }
        if (!outOfDescriptors) {
            outOfDescriptors = true;
            LogWarning("Cannot accept connections, out of resources (%s); retrying every %ld ms",
                       exception.displayText().c_str(),
                       AcceptBackOffMilliseconds);
        }
        // The pending connection keeps the listening socket readable: without a pause the next
        // pass would fail the same way at once.
        Poco::Thread::sleep(AcceptBackOffMilliseconds);
        return;
    }
    if (outOfDescriptors) {
        outOfDescriptors = false;
        LogInfo("Accepting connections again");
    }
    createServiceHandler(connection);
}

}  // namespace OrvaneClient
