#include "service/OrvaneServiceSocketReactor.h"

#include "core/logfacade/LogFacade.h"
#include "service/ReactorErrorHandler.h"

#include <Poco/ErrorHandler.h>
#include <Poco/Exception.h>
#include <Poco/NObserver.h>
#include <Poco/Net/SocketAddress.h>

#include <algorithm>
#include <utility>

namespace OrvaneClient {

namespace {

using WakeUpObserver = Poco::NObserver<OrvaneServiceSocketReactor, Poco::Net::ReadableNotification>;

// Datagrams taken per wake-up pass; any left over make the next pass readable again.
constexpr int MaxWakeUpDatagramsPerPass = 16;

}  // namespace

OrvaneServiceSocketReactor::OrvaneServiceSocketReactor(IOrvaneService* service,
                                                       const Poco::Timespan& timeout)
    : service(service),
      wakeUpSocket(Poco::Net::SocketAddress("127.0.0.1", 0), false),
      inactivityTimeout(timeout) {
    setTimeout(timeout);
    ReactorErrorHandler::install();
    // Draining must never block the loop, whatever the poll reported.
    wakeUpSocket.setBlocking(false);
    addEventHandler(wakeUpSocket, WakeUpObserver(*this, &OrvaneServiceSocketReactor::onWakeUp));
    alarmThread = std::thread(&OrvaneServiceSocketReactor::sleepUntilAlarms, this);
}

OrvaneServiceSocketReactor::~OrvaneServiceSocketReactor() {
    {
        std::lock_guard<std::mutex> lock(alarmMutex);
        alarmEnding = true;
    }
    alarmChanged.notify_all();
    alarmThread.join();
    try {
        removeEventHandler(wakeUpSocket,
                           WakeUpObserver(*this, &OrvaneServiceSocketReactor::onWakeUp));
    } catch (...) {
        // Nothing dispatches any more; the base destructor drops the registration anyway.
    }
}

bool OrvaneServiceSocketReactor::interruptWait() {
    try {
        const char wakeUpByte = 0;
        wakeUpSocket.sendTo(&wakeUpByte, 1, wakeUpSocket.address());
        return true;
    } catch (const Poco::Exception& exception) {
        LogWarning("Could not interrupt the socket reactor's wait: %s",
                   exception.displayText().c_str());
        return false;
    }
}

void OrvaneServiceSocketReactor::post(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> lock(postedMutex);
        posted.push_back(std::move(task));
    }
    interruptWait();
}

void OrvaneServiceSocketReactor::runPosted() {
    std::vector<std::function<void()>> tasks;
    {
        std::lock_guard<std::mutex> lock(postedMutex);
        tasks.swap(posted);
    }
    for (std::function<void()>& task : tasks) {
        // One failing task must not lose the others: each may be the last word of a request.
        try {
            task();
        } catch (const Poco::Exception& exception) {
            Poco::ErrorHandler::handle(exception);
        } catch (const std::exception& exception) {
            Poco::ErrorHandler::handle(exception);
        } catch (...) {
            Poco::ErrorHandler::handle();
        }
    }
}

void OrvaneServiceSocketReactor::schedule(TimerKey key,
                                          std::chrono::steady_clock::time_point deadline,
                                          std::function<void()> task) {
    timers[key] = Timer{deadline, std::move(task)};
    setAlarm(deadline);
}

void OrvaneServiceSocketReactor::cancel(TimerKey key) {
    // An alarm already set for it only costs one wake-up pass.
    timers.erase(key);
}

void OrvaneServiceSocketReactor::runDueTimers() {
    const auto now = std::chrono::steady_clock::now();
    std::vector<TimerKey> due;
    for (const auto& [key, timer] : timers) {
        if (timer.deadline <= now) {
            due.push_back(key);
        }
    }
    for (TimerKey key : due) {
        // A task may cancel or schedule timers, or delete the owner of another due one.
        const auto found = timers.find(key);
        if (found == timers.end() || found->second.deadline > now) {
            continue;
        }
        std::function<void()> task = std::move(found->second.task);
        timers.erase(found);
        task();
    }
    if (!timers.empty()) {
        auto earliest = timers.begin()->second.deadline;
        for (const auto& entry : timers) {
            earliest = std::min(earliest, entry.second.deadline);
        }
        setAlarm(earliest);
    }
}

void OrvaneServiceSocketReactor::setAlarm(std::chrono::steady_clock::time_point deadline) {
    {
        std::lock_guard<std::mutex> lock(alarmMutex);
        if (alarmDeadline && *alarmDeadline <= deadline) {
            return;
        }
        alarmDeadline = deadline;
    }
    alarmChanged.notify_all();
}

void OrvaneServiceSocketReactor::sleepUntilAlarms() {
    std::unique_lock<std::mutex> lock(alarmMutex);
    while (!alarmEnding) {
        if (!alarmDeadline) {
            alarmChanged.wait(lock);
            continue;
        }
        const auto deadline = *alarmDeadline;
        if (alarmChanged.wait_until(lock, deadline) == std::cv_status::timeout &&
            alarmDeadline == deadline) {
            alarmDeadline.reset();
            lock.unlock();
            interruptWait();
            lock.lock();
        }
    }
}

void OrvaneServiceSocketReactor::onBusy() {
    lastReadyPass.update();
    Poco::Net::SocketReactor::onBusy();
}

void OrvaneServiceSocketReactor::onTimeout() {
    // A pass that ended early had something ready (an error or a hang-up only): not inactivity.
    if (lastReadyPass.elapsed() < inactivityTimeout.totalMicroseconds()) {
        return;
    }
    // A long request still running is activity; its completion restarts the timeout.
    if (runningWork > 0) {
        return;
    }
    Poco::Net::SocketReactor::onTimeout();
    LogInfo("OrvaneService inactivity timeout exceeded, terminating");
    service->stop();
    stop();
}

void OrvaneServiceSocketReactor::onWakeUp(
    const Poco::AutoPtr<Poco::Net::ReadableNotification>& /*notification*/) {
    char datagram[16];
    for (int taken = 0; taken < MaxWakeUpDatagramsPerPass; ++taken) {
        // Non-blocking: a negative count means nothing is left.
        if (wakeUpSocket.receiveBytes(datagram, sizeof(datagram)) < 0) {
            break;
        }
    }
    runPosted();
    runDueTimers();
}

}  // namespace OrvaneClient
