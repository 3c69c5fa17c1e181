#pragma once

#include "service/IOrvaneService.h"
#include "service/OrvaneServiceSocketAcceptor.h"
#include "service/OrvaneServiceSocketReactor.h"
#include "service/WorkerPool.h"

#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Thread.h>
#include <Poco/Timespan.h>
#include <Poco/Types.h>

#include <chrono>

namespace OrvaneClient {

// The product's listening endpoint and timing.
constexpr const char* ServiceListeningHost = "127.0.0.1";
constexpr Poco::UInt16 ServiceListeningPort = 9977;
constexpr int ServiceListenBacklog = 64;
constexpr int ServiceReactorTimeoutSeconds = 30;
constexpr long ServiceStopJoinMilliseconds = 50;
// How long a connection may take none of its queued reply bytes before it is closed.
constexpr int ServiceStallTimeoutSeconds = 10;
// Threads that run the long requests. Two: a grant of a large folder (minutes on Windows) must
// not hold the console user's launch or token, and the work is one person's, whose client asks
// one thing at a time; more threads would only let more connections run grants and caller checks
// at once against the same disk and the same TCP table.
constexpr int ServiceWorkerThreads = 2;

// The local server: the listening socket, the reactor with its inactivity timeout, the
// acceptor, and the thread that runs the reactor.
//
// Construction binds and listens at once (connections queue in the backlog until `start`) and
// throws Poco::Net::NetException when the endpoint cannot be had, for example because another
// server listens on it. `endpoint` and `reactorTimeout` default to the product's values; tests
// pass 127.0.0.1:0 and short timeouts.
//
// Threads: constructed and destroyed on one thread (the main thread in the product); `start`
// and `stop` on another (the service thread). The service is not owned and must outlive the
// server. Destruction stops the reactor, wakes it and waits for its thread and for every worker
// to end, so neither the reactor nor the service is used after it is gone; a process that must
// not wait for a request still running (hasAbandonedWork) exits without destroying the server.
class ServiceServer {
public:
    explicit ServiceServer(
        IOrvaneService& service,
        const Poco::Net::SocketAddress& endpoint = Poco::Net::SocketAddress(ServiceListeningHost,
                                                                            ServiceListeningPort),
        const Poco::Timespan& reactorTimeout = Poco::Timespan(ServiceReactorTimeoutSeconds, 0),
        const Poco::Timespan& stallTimeout = Poco::Timespan(ServiceStallTimeoutSeconds, 0));
    ~ServiceServer();

    ServiceServer(const ServiceServer&) = delete;
    ServiceServer& operator=(const ServiceServer&) = delete;

    // Starts the reactor thread and logs "Started to listen on port %d" with the bound port.
    // Call once.
    void start();

    // Asks the reactor to stop, interrupts its wait for socket activity and waits for its
    // thread until `deadline` (its shutdown closes every open connection), then closes the
    // listening socket: the port is free when it returns. Requests still running on workers go
    // on; see waitForWork.
    void stop(std::chrono::steady_clock::time_point deadline);
    // The same with ServiceStopJoinMilliseconds as the limit.
    void stop();

    // After stop: waits until no request is running or `deadline` has passed. True when none
    // runs. A request still running when the caller gives up is abandoned: hasAbandonedWork.
    bool waitForWork(std::chrono::steady_clock::time_point deadline);
    // True when the last waitForWork gave up on a running request: destroying the server (and
    // the service it calls) would wait for it.
    bool hasAbandonedWork() const { return abandonedWork; }

    // The address the listening socket is bound to, and its port (the one chosen by the
    // system when the endpoint asked for port 0).
    Poco::Net::SocketAddress address() const;
    Poco::UInt16 port() const;

    // True while the reactor thread runs.
    bool isRunning() const;

private:
    Poco::Net::ServerSocket socket;
    // Kept: the socket is closed by stop.
    Poco::Net::SocketAddress boundAddress;
    OrvaneServiceSocketReactor reactor;
    WorkerPool workers;
    OrvaneServiceSocketAcceptor acceptor;
    Poco::Thread thread;
    bool threadJoined = false;
    bool abandonedWork = false;
};

}  // namespace OrvaneClient
