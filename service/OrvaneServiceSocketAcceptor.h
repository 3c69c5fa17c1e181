#pragma once

#include "service/ConnectionContext.h"
#include "service/IOrvaneService.h"
#include "service/OrvaneServiceSocketReactor.h"
#include "service/ServiceConnectionHandler.h"

#include <Poco/Clock.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAcceptor.h>
#include <Poco/Net/SocketNotification.h>
#include <Poco/Net/SocketReactor.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/Timespan.h>

#include <optional>

namespace OrvaneClient {

// Accepts the connections of the listening socket on the reactor thread and gives each one a
// ServiceConnectionHandler wired to the service.
//
// The accept routine is the acceptor's own rather than the library's: when the process is out
// of descriptors the library's routine throws on every pass while the pending connection keeps
// the listening socket readable, a busy loop. Here such a failure logs one warning per episode
// and stops watching the listening socket for AcceptBackOffMilliseconds (a reactor timer: the
// loop goes on serving the open connections); the connection stays in the backlog and is
// accepted once descriptors are free again. Other accept failures pass to the reactor's error
// handler, as in the library.
//
// At most MaxOpenConnections are open at once: a connection beyond them is accepted and closed
// at once, with a warning at most once a second.
//
// Threads: constructed and destroyed on the main thread (registering and unregistering the
// listening socket); the accept routine runs on the reactor thread.
class OrvaneServiceSocketAcceptor : public Poco::Net::SocketAcceptor<ServiceConnectionHandler> {
public:
    static constexpr long AcceptBackOffMilliseconds = 100;
    static constexpr int MaxOpenConnections = 256;

    // Registers the accept routine with `reactor` for `socket`. Neither the reactor, the pool
    // nor the service is owned; all must outlive the acceptor. `stallTimeout`: how long a
    // connection may take none of its queued reply bytes before it is closed.
    OrvaneServiceSocketAcceptor(Poco::Net::ServerSocket& socket,
                                OrvaneServiceSocketReactor& reactor,
                                WorkerPool& workers,
                                IOrvaneService* service,
                                const Poco::Timespan& stallTimeout);
    // Unregisters the accept routine; never throws.
    ~OrvaneServiceSocketAcceptor() override;

    void registerAcceptor(Poco::Net::SocketReactor& reactor) override;
    void unregisterAcceptor() override;

protected:
    // A new self-owning handler for `socket`, given the service; the acceptor keeps nothing.
    ServiceConnectionHandler* createServiceHandler(Poco::Net::StreamSocket& socket) override;

private:
    void onAccept(Poco::Net::ReadableNotification* notification);

    Poco::Net::ServerSocket listeningSocket;
    Poco::Net::SocketReactor* acceptReactor = nullptr;
    IOrvaneService* service;
    ConnectionContext context;
    // Set while accepts fail for want of descriptors, so the episode is logged once.
    bool outOfDescriptors = false;
    // When a connection over the cap was last logged; reactor thread only.
    std::optional<Poco::Clock> lastRefusalLine;
};

}  // namespace OrvaneClient
