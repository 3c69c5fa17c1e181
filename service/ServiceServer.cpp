#include "service/ServiceServer.h"

#include "core/logging/LogFacade.h"
#include "service/ListeningSocket.h"

namespace OrvaneClient {

ServiceServer::ServiceServer(IOrvaneService& service,
                             const Poco::Net::SocketAddress& endpoint,
                             const Poco::Timespan& reactorTimeout)
    : socket(OpenListeningSocket(endpoint, ServiceListenBacklog)),
      reactor(&service, reactorTimeout),
      acceptor(socket, reactor, &service) {}

ServiceServer::~ServiceServer() {
    // After a stop the loop may still be inside its wait (the join in stop() is brief) or in a
    // long request; the reactor and the acceptor must outlive it.
    reactor.stop();
    reactor.interruptWait();
    try {
        thread.join();
    } catch (...) {
        // Destructors never throw; join without a limit only fails on a broken thread.
    }
}

void ServiceServer::start() {
    thread.start(reactor);
    LogInfo("Started to listen on port %d", static_cast<int>(port()));
}

void ServiceServer::stop() {
    reactor.stop();
    // The stop flag is seen only between passes; without this the loop could sit in its wait
    // for the whole reactor timeout.
    reactor.interruptWait();
    thread.tryJoin(ServiceStopJoinMilliseconds);
}

Poco::Net::SocketAddress ServiceServer::address() const {
    return socket.address();
}

Poco::UInt16 ServiceServer::port() const {
    return socket.address().port();
}

bool ServiceServer::isRunning() const {
    return thread.isRunning();
}

}  // namespace OrvaneClient
