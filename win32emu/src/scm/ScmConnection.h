#pragma once

// The emulated control dispatcher's link to its service control manager: the in-process SCM
// that a test plays, or orvane-sc over an inherited socket.

#include "Win32Emu/ScmMessage.h"

#include <chrono>
#include <string>
#include <windows.h>
#include <winsvc.h>

namespace Win32Emu {

// Where an SCM delivers what it has for the dispatcher. Callable from any thread; never blocks
// for long (it queues for the dispatcher thread).
class ScmControlSink {
public:
    virtual ~ScmControlSink() = default;
    // A control code for the service's handler.
    virtual void postControl(DWORD control) = 0;
    // The SCM has gone: no further controls will come, reports go nowhere.
    virtual void postScmLost() = 0;
};

class ScmConnection {
public:
    virtual ~ScmConnection() = default;

    // Tells the SCM which service the dispatcher runs and starts delivering its controls to
    // `sink`, which stays valid until close() has returned.
    virtual void open(const std::string& serviceName, ScmControlSink& sink) = 0;
    // One SetServiceStatus report, from any thread. False when the SCM could not take it; the
    // Win32 error is then in `error`. May block while the SCM holds the report back.
    virtual bool reportStatus(const SERVICE_STATUS& status, DWORD& error) = 0;
    // A control was dealt with on the dispatcher thread: result 0 when the handler returned,
    // else the error why it was not delivered.
    virtual void controlDone(DWORD control, DWORD result) = 0;
    // Something happened on the emulated machine that a person watching the SCM should see (an
    // `event` message), from any thread. An SCM without an output ignores it.
    virtual void reportEvent(const ScmMessage& /*event*/) {}
    // The service's ServiceMain has returned. Windows' SCM does not learn this; tests do.
    virtual void serviceMainReturned() {}
    // How long the dispatcher waits for ServiceMain to return after SERVICE_STOPPED, or after
    // losing the SCM, before it leaves the service thread running.
    virtual std::chrono::milliseconds serviceMainReturnTimeout() const {
        return std::chrono::seconds(10);
    }
    // The dispatcher is ending: stop delivering, release what the connection holds. Once.
    virtual void close() = 0;
    // Whether losing this SCM must end the process, as losing services.exe ends Windows: true
    // for a process that orvane-sc started, so that no service outlives its SCM.
    virtual bool terminatesProcessOnLoss() const = 0;
};

}  // namespace Win32Emu
