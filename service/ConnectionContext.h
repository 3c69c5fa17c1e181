#pragma once

#include "service/OrvaneServiceSocketReactor.h"
#include "service/WorkerPool.h"

#include <Poco/Timespan.h>

namespace OrvaneClient {

// What the connection handlers of one server share. Reactor thread only (the pool is safe from
// any thread); owned by the acceptor, which outlives every handler's use of it.
struct ConnectionContext {
    OrvaneServiceSocketReactor& reactor;
    WorkerPool& workers;
    // How long a connection may take none of its queued reply bytes before it is closed.
    Poco::Timespan stallTimeout;
    // Connections accepted and not yet closed.
    int openConnections = 0;
};

}  // namespace OrvaneClient
