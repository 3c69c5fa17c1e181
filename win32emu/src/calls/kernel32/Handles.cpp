// Handles: CloseHandle, GetCurrentProcess.

#include "machine/ApiSupport.h"
#include "machine/MachineModel.h"

using namespace Win32Emu;

extern "C" {

BOOL WINAPI CloseHandle(HANDLE hObject) {
    const std::optional<HandleEntry> entry = Model().handles.entry(hObject);
    if (InjectedFailure("CloseHandle", std::string(), entry ? entry->object->typeName() : "")) {
        return FALSE;
    }
    // The current-process pseudo handle (the value of INVALID_HANDLE_VALUE) is not in the table;
    // Windows lets it be "closed".
    if (hObject == GetCurrentProcess()) {
        return TRUE;
    }
    // The SCM's handles are not kernel handles: only CloseServiceHandle closes them.
    const std::string type = entry ? entry->object->typeName() : "";
    if (type == "ScManager" || type == "Service" || !Model().handles.remove(hObject)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

HANDLE WINAPI GetCurrentProcess(void) {
    return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
}

}  // extern "C"
