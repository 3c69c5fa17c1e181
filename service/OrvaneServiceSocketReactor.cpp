#include "service/OrvaneServiceSocketReactor.h"

#include "core/logging/LogFacade.h"
#include "service/ReactorErrorHandler.h"

#include <Poco/Exception.h>
#include <Poco/NObserver.h>
#include <Poco/Net/SocketAddress.h>

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
}

OrvaneServiceSocketReactor::~OrvaneServiceSocketReactor() {
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

void OrvaneServiceSocketReactor::onBusy() {
    lastReadyPass.update();
    Poco::Net::SocketReactor::onBusy();
}

void OrvaneServiceSocketReactor::onTimeout() {
    // A pass that ended early had something ready (an error or a hang-up only): not inactivity.
    if (lastReadyPass.elapsed() < inactivityTimeout.totalMicroseconds()) {
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
}

}  // namespace OrvaneClient
