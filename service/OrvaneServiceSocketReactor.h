#pragma once

#include "service/IOrvaneService.h"

#include <Poco/AutoPtr.h>
#include <Poco/Clock.h>
#include <Poco/Net/DatagramSocket.h>
#include <Poco/Net/SocketNotification.h>
#include <Poco/Net/SocketReactor.h>
#include <Poco/Timespan.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

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
// Work handed to other threads (see WorkerPool) counts as activity: while any is running the
// service does not stop for inactivity, and its completion, delivered through `post`, is a ready
// pass that starts the timeout anew.
//
// Timers: `schedule` runs a task on the reactor thread once its deadline has passed. A thread of
// the reactor's own sleeps until the earliest deadline and then interrupts the wait, so the
// reactor's timeout stays what it is while, for example, a stalled connection is watched; each
// such wake-up is a ready pass like any other.
//
// Construction installs the process-wide ReactorErrorHandler, so exceptions the loop discards
// are logged. Threads: `run` on one Poco::Thread; `stop`, `interruptWait` and `post` from any
// thread; `schedule`, `cancel`, `workStarted` and `workEnded` on the reactor thread only.
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

    // Runs `task` on the reactor thread during its next pass. Tasks posted after the loop has
    // ended run in `runPosted` (the server calls it once every worker has ended).
    void post(std::function<void()> task);
    // Runs the tasks posted so far, on the calling thread.
    void runPosted();

    using TimerKey = const void*;
    // Runs `task` on the reactor thread once `deadline` has passed, in place of any timer that
    // `key` has; `cancel` drops it.
    void schedule(TimerKey key,
                  std::chrono::steady_clock::time_point deadline,
                  std::function<void()> task);
    void cancel(TimerKey key);

    // Work of a request is running elsewhere; every workStarted is followed by one workEnded.
    void workStarted() { ++runningWork; }
    void workEnded() { --runningWork; }

protected:
    void onBusy() override;
    void onTimeout() override;

private:
    struct Timer {
        std::chrono::steady_clock::time_point deadline;
        std::function<void()> task;
    };

    void onWakeUp(const Poco::AutoPtr<Poco::Net::ReadableNotification>& notification);
    void runDueTimers();
    // The alarm thread: interrupts the wait at `alarmDeadline`.
    void sleepUntilAlarms();
    void setAlarm(std::chrono::steady_clock::time_point deadline);

    IOrvaneService* service;
    Poco::Net::DatagramSocket wakeUpSocket;
    Poco::Timespan inactivityTimeout;
    // Reactor thread only. Monotonic, so a change of the system time neither stops the service
    // nor keeps it alive.
    Poco::Clock lastReadyPass;
    int runningWork = 0;

    std::mutex postedMutex;
    std::vector<std::function<void()>> posted;

    std::map<TimerKey, Timer> timers;  // reactor thread only

    std::mutex alarmMutex;
    std::condition_variable alarmChanged;
    std::optional<std::chrono::steady_clock::time_point> alarmDeadline;
    bool alarmEnding = false;
    std::thread alarmThread;
};

}  // namespace OrvaneClient
