#pragma once

// The process's service control dispatcher behind StartServiceCtrlDispatcherA,
// RegisterServiceCtrlHandlerA and SetServiceStatus. One runs at a time, as in a Windows
// service process; it runs the first service of its table.

#include "scm/ScmConnection.h"

#include <memory>
#include <mutex>
#include <windows.h>
#include <winsvc.h>

namespace Win32Emu {

class ServiceDispatcher {
public:
    static ServiceDispatcher& instance();

    // StartServiceCtrlDispatcherA on the calling thread: ERROR_SUCCESS once the service has
    // reported SERVICE_STOPPED and its ServiceMain has returned (or the connection's return
    // timeout has passed), else the error.
    DWORD run(const SERVICE_TABLE_ENTRYA* table);
    // RegisterServiceCtrlHandlerA: the status handle, or null with `error` set.
    SERVICE_STATUS_HANDLE registerHandler(LPCSTR serviceName,
                                          LPHANDLER_FUNCTION handler,
                                          DWORD& error);
    // SetServiceStatus: ERROR_SUCCESS once the SCM has the report, else the error.
    DWORD setStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS* status);
    // Hands a machine event to the SCM of the dispatcher that runs now; nothing without one.
    void reportEvent(const ScmMessage& event);

    ServiceDispatcher(const ServiceDispatcher&) = delete;
    ServiceDispatcher& operator=(const ServiceDispatcher&) = delete;

private:
    ServiceDispatcher() = default;
    class Session;

    std::mutex mutex;
    std::shared_ptr<Session> current;
    unsigned generation = 0;
};

}  // namespace Win32Emu
