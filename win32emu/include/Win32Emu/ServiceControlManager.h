#pragma once

// The in-process service control manager: with it, a test plays services.exe for a service
// whose StartServiceCtrlDispatcherA runs on a thread of the test's own (as the process's main
// thread would). Attached, it is what the dispatcher connects to; detached, the dispatcher finds
// no SCM and fails with ERROR_FAILED_SERVICE_CONTROLLER_CONNECT, as a process started by hand
// does. Process-wide, like the dispatcher; every member is thread-safe. Not part of the Win32
// surface: system code never includes this.

#include <chrono>
#include <optional>
#include <string>
#include <vector>
#include <windows.h>
#include <winsvc.h>

namespace Win32Emu {

class ServiceControlManager {
public:
    static ServiceControlManager& instance();

    // Attaches the SCM and forgets earlier reports and controls: the next
    // StartServiceCtrlDispatcherA connects to it. Also restores the default return timeout. A
    // dispatcher still connected from before loses its SCM first, as with detach().
    void attach();
    // Detaches the SCM. A dispatcher still connected loses it: it lets go of a held report and
    // stops delivering controls; unless its service has reported SERVICE_STOPPED it returns
    // FALSE with ERROR_BROKEN_PIPE once its ServiceMain has returned (or the return timeout
    // has passed: the service thread is then left running). Reports stay readable.
    void detach();
    bool attached() const;

    // Waits until a dispatcher has connected since attach(). The name of its service, or empty
    // when none connected within `timeout`.
    std::optional<std::string> waitForDispatcher(std::chrono::milliseconds timeout) const;
    // Waits until the connected service's ServiceMain has returned.
    bool waitForServiceMainReturn(std::chrono::milliseconds timeout) const;

    // Delivers a control code to the connected service, whatever its state (no check of the
    // controls it accepts: the test decides), and waits until its handler has returned on the
    // dispatcher thread. ERROR_SUCCESS then; ERROR_SERVICE_NOT_ACTIVE when no dispatcher is
    // connected or it ended first; ERROR_SERVICE_CANNOT_ACCEPT_CTRL when the service has not
    // registered a handler; ERROR_SERVICE_REQUEST_TIMEOUT when the handler did not return
    // within `timeout`. Never call it from the handler itself.
    DWORD sendControl(DWORD control, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    DWORD stop(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return sendControl(SERVICE_CONTROL_STOP, timeout);
    }
    DWORD interrogate(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return sendControl(SERVICE_CONTROL_INTERROGATE, timeout);
    }
    // Queues a control code and returns at once; false when no dispatcher is connected.
    bool postControl(DWORD control);

    // Every report the SCM has received since attach(), in order.
    std::vector<SERVICE_STATUS> statusReports() const;
    // Waits for a report of `serviceState` among those received since attach() and returns the
    // first.
    std::optional<SERVICE_STATUS> waitForStatus(DWORD serviceState,
                                                std::chrono::milliseconds timeout) const;

    // Makes the next report of `serviceState` block its SetServiceStatus call, once the SCM has
    // recorded it, until releaseHeldReport() or detach() (or 30 s at most): a slow SCM, which
    // holds the service in that state while the test sends controls.
    void holdReport(DWORD serviceState);
    void releaseHeldReport();

    // How long a dispatcher waits, after SERVICE_STOPPED (or after losing its SCM), for the
    // service's ServiceMain to return before it gives up on it. 10 s unless set.
    void setServiceMainReturnTimeout(std::chrono::milliseconds timeout);

    ServiceControlManager(const ServiceControlManager&) = delete;
    ServiceControlManager& operator=(const ServiceControlManager&) = delete;

private:
    ServiceControlManager();
    ~ServiceControlManager();
    friend class InProcessScmConnection;
    struct State;
    State* state;
};

}  // namespace Win32Emu
