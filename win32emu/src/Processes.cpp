// Sessions and processes: WTSGetActiveConsoleSessionId, OpenProcess, OpenProcessToken,
// ProcessIdToSessionId and the process snapshot.

#include "ApiSupport.h"
#include "MachineModel.h"

#include <tlhelp32.h>

using namespace Win32Emu;

extern "C" {

DWORD WINAPI WTSGetActiveConsoleSessionId(void) {
    std::lock_guard<std::mutex> guard(Model().lock);
    return Model().configuration.consoleSession;
}

HANDLE WINAPI OpenProcess(DWORD, BOOL, DWORD) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return nullptr;
}

BOOL WINAPI OpenProcessToken(HANDLE, DWORD, PHANDLE) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

BOOL WINAPI ProcessIdToSessionId(DWORD, DWORD*) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

HANDLE WINAPI CreateToolhelp32Snapshot(DWORD, DWORD) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return INVALID_HANDLE_VALUE;
}

BOOL WINAPI Process32First(HANDLE, LPPROCESSENTRY32) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

BOOL WINAPI Process32Next(HANDLE, LPPROCESSENTRY32) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

}  // extern "C"
