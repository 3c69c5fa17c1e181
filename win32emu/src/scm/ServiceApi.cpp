// advapi32's service-process calls: StartServiceCtrlDispatcherA, RegisterServiceCtrlHandlerA,
// SetServiceStatus. Each can be made to fail by fault injection under its own name; the
// dispatcher's and the registration's principal argument is the service name.

#include "machine/ApiSupport.h"
#include "scm/ServiceDispatcher.h"

#include <string>
#include <windows.h>
#include <winsvc.h>

using Win32Emu::InjectedFailure;
using Win32Emu::ServiceDispatcher;

extern "C" {

BOOL WINAPI StartServiceCtrlDispatcherA(CONST SERVICE_TABLE_ENTRYA* lpServiceStartTable) {
    const char* name =
        lpServiceStartTable != nullptr ? lpServiceStartTable[0].lpServiceName : nullptr;
    if (InjectedFailure("StartServiceCtrlDispatcherA", name != nullptr ? name : "")) {
        return FALSE;
    }
    const DWORD error = ServiceDispatcher::instance().run(lpServiceStartTable);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerA(LPCSTR lpServiceName,
                                                         LPHANDLER_FUNCTION lpHandlerProc) {
    if (InjectedFailure("RegisterServiceCtrlHandlerA",
                        lpServiceName != nullptr ? lpServiceName : "")) {
        return nullptr;
    }
    DWORD error = ERROR_SUCCESS;
    const SERVICE_STATUS_HANDLE handle =
        ServiceDispatcher::instance().registerHandler(lpServiceName, lpHandlerProc, error);
    if (handle == nullptr) {
        SetLastError(error);
    }
    return handle;
}

BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus,
                             LPSERVICE_STATUS lpServiceStatus) {
    if (InjectedFailure("SetServiceStatus")) {
        return FALSE;
    }
    const DWORD error = ServiceDispatcher::instance().setStatus(hServiceStatus, lpServiceStatus);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

}  // extern "C"
