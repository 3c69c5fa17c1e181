#pragma once

#include "service/IOrvaneService.h"
#include "service/OrvaneServiceSocketAcceptor.h"
#include "service/OrvaneServiceSocketReactor.h"

#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Thread.h>
#include <Poco/Timespan.h>
#include <Poco/Types.h>

namespace OrvaneClient {

// The product's listening endpoint and timing.
constexpr const char* ServiceListeningHost = "127.0.0.1";
constexpr Poco::UInt16 ServiceListeningPort = 9977;
constexpr int ServiceListenBacklog = 64;
constexpr int ServiceReactorTimeoutSeconds = 30;
constexpr long ServiceStopJoinMilliseconds = 50;

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
// server. Destruction stops the reactor, wakes it and waits for its thread to end, so the
// reactor is never destroyed under its running loop.
class ServiceServer {
public:
    explicit ServiceServer(
        IOrvaneService& service,
        const Poco::Net::SocketAddress& endpoint = Poco::Net::SocketAddress(ServiceListeningHost,
                                                                            ServiceListeningPort),
        const Poco::Timespan& reactorTimeout = Poco::Timespan(ServiceReactorTimeoutSeconds, 0));
    ~ServiceServer();

    ServiceServer(const ServiceServer&) = delete;
    ServiceServer& operator=(const ServiceServer&) = delete;

    // Starts the reactor thread and logs "Started to listen on port %d" with the bound port.
    // Call once.
    void start();

    // Asks the reactor to stop, interrupts its wait for socket activity and waits at most
    // ServiceStopJoinMilliseconds for its thread, whether or not it ended by then.
    void stop();

    // The address the listening socket is bound to, and its port (the one chosen by the
    // system when the endpoint asked for port 0).
    Poco::Net::SocketAddress address() const;
    Poco::UInt16 port() const;

    // True while the reactor thread runs.
    bool isRunning() const;

private:
    Poco::Net::ServerSocket socket;
    OrvaneServiceSocketReactor reactor;
    OrvaneServiceSocketAcceptor acceptor;
    Poco::Thread thread;
};

}  // namespace OrvaneClient
