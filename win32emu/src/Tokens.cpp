// Access tokens: WTSQueryUserToken, DuplicateTokenEx, GetTokenInformation.

#include "ApiSupport.h"
#include "MachineModel.h"

#include <wtsapi32.h>

using namespace Win32Emu;

extern "C" {

BOOL WINAPI WTSQueryUserToken(ULONG, PHANDLE) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

BOOL WINAPI DuplicateTokenEx(
    HANDLE, DWORD, LPSECURITY_ATTRIBUTES, SECURITY_IMPERSONATION_LEVEL, TOKEN_TYPE, PHANDLE) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

BOOL WINAPI GetTokenInformation(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

}  // extern "C"
