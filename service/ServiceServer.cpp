#include "service/ServiceServer.h"

#include "core/logfacade/LogFacade.h"
#include "service/ListeningSocket.h"

#include <algorithm>

namespace OrvaneClient {

ServiceServer::ServiceServer(IOrvaneService& service,
                             const Poco::Net::SocketAddress& endpoint,
                             const Poco::Timespan& reactorTimeout,
                             const Poco::Timespan& stallTimeout)
    : socket(OpenListeningSocket(endpoint, ServiceListenBacklog)),
      boundAddress(socket.address()),
      reactor(&service, reactorTimeout),
      workers(ServiceWorkerThreads),
      acceptor(socket, reactor, workers, &service, stallTimeout) {}

ServiceServer::~ServiceServer() {
    // After a stop the loop may still be inside its wait; the reactor and the acceptor must
    // outlive it, and the service every worker.
    reactor.stop();
    reactor.interruptWait();
    try {
        // Joining a Poco::Thread twice joins a thread that is gone.
        if (!threadJoined) {
            thread.join();
        }
    } catch (...) {
        // Destructors never throw; join without a limit only fails on a broken thread.
    }
    workers.shutdown();
    // The completions the loop did not see: each deletes a handler closed at shutdown.
    reactor.runPosted();
}

void ServiceServer::start() {
    thread.start(reactor);
    LogInfo("Started to listen on port %d", static_cast<int>(port()));
}

void ServiceServer::stop() {
    stop(std::chrono::steady_clock::now() + std::chrono::milliseconds(ServiceStopJoinMilliseconds));
}

void ServiceServer::stop(std::chrono::steady_clock::time_point deadline) {
    reactor.stop();
    // The stop flag is seen only between passes; without this the loop could sit in its wait
    // for the whole reactor timeout.
    reactor.interruptWait();
    const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const bool ended =
        threadJoined ||
        thread.tryJoin(std::max(ServiceStopJoinMilliseconds, static_cast<long>(remaining.count())));
    threadJoined = ended;
    // Nothing a client does holds the loop, so it has ended and closed every connection. Were it
    // still running, the port is freed all the same: a stopped service must not hold it.
    if (ended) {
        acceptor.unregisterAcceptor();
    }
    socket.close();
}

bool ServiceServer::waitForWork(std::chrono::steady_clock::time_point deadline) {
    const bool idle = workers.waitIdle(deadline);
    abandonedWork = !idle;
    return idle;
}

Poco::Net::SocketAddress ServiceServer::address() const {
    return boundAddress;
}

Poco::UInt16 ServiceServer::port() const {
    return boundAddress.port();
}

bool ServiceServer::isRunning() const {
    return thread.isRunning();
}

}  // namespace OrvaneClient
