#pragma once

#include "service/IOrvaneService.h"

#include <Poco/AutoPtr.h>
#include <Poco/Clock.h>
#include <Poco/Net/DatagramSocket.h>
#include <Poco/Net/SocketNotification.h>
#include <Poco/Net/SocketReactor.h>
#include <Poco/Timespan.h>

namespace OrvaneClient {

// The service's socket reactor. A pass in which no socket becomes ready within the timeout
// (ServiceReactorTimeoutSeconds in the product) stops the whole service: it logs "OrvaneService
// inactivity timeout exceeded, terminating", calls `stop` on the service and stops the loop, whose
// shutdown then closes every open connection.
//
// The reactor also watches a wake-up socket of its own (UDP on 127.0.0.1, ephemeral port), so
// that `interruptWait` can end a wait for socket activity at once: the library's stop only
// takes effect when the current wait ends. A wake-up pass is a readable pass and never counts
// as inactivity.
//
// The library calls onTimeout after every pass without a readable socket, not only after a
// wait that timed out: the poll also reports errors and hang-ups, which it never lets us leave
// out. A connection reset while its socket is being polled can be reported as an error alone
// for one pass, before the same socket turns readable. So a pass counts as inactivity only when
// the whole timeout has passed since the last pass in which anything was ready.
//
// Construction installs the process-wide ReactorErrorHandler, so exceptions the loop discards
// are logged. Threads: `run` on one Poco::Thread; `stop` and `interruptWait` from any thread.
class OrvaneServiceSocketReactor : public Poco::Net::SocketReactor {
public:
    // `service` is not owned and must outlive the reactor's loop. Throws a Poco exception when
    // the wake-up socket cannot be opened.
    OrvaneServiceSocketReactor(IOrvaneService* service, const Poco::Timespan& timeout);
    ~OrvaneServiceSocketReactor() override;

    // Makes the loop's current wait for socket activity end now, so that a stop already
    // requested takes effect within one pass. Never throws; false (after a warning line) when
    // the wake-up datagram could not be sent, in which case the wait ends on its own timeout.
    bool interruptWait();

protected:
    void onBusy() override;
    void onTimeout() override;

private:
    void onWakeUp(const Poco::AutoPtr<Poco::Net::ReadableNotification>& notification);

    IOrvaneService* service;
    Poco::Net::DatagramSocket wakeUpSocket;
    Poco::Timespan inactivityTimeout;
    // Reactor thread only. Monotonic, so a change of the system time neither stops the service
    // nor keeps it alive.
    Poco::Clock lastReadyPass;
};

}  // namespace OrvaneClient
