#pragma once

// Emulated Windows SDK: processthreadsapi.h, the calls on other processes that the system makes.
// Processes are those of the emulated machine.

#include <winbase.h>

extern "C" {

HANDLE WINAPI OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId);
BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle);
BOOL WINAPI ProcessIdToSessionId(DWORD dwProcessId, DWORD* pSessionId);
// Windows 8 and later; GetProcAddress finds it only where the machine's version has it.
BOOL WINAPI SetProcessMitigationPolicy(PROCESS_MITIGATION_POLICY MitigationPolicy,
                                       PVOID lpBuffer,
                                       SIZE_T dwLength);

}  // extern "C"
