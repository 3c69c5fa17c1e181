#pragma once

// Emulated Windows SDK: processthreadsapi.h, the calls on other processes that the system makes,
// and process creation. Processes are those of the emulated machine.

#include <winbase.h>

// clang-format off
#define THREAD_ALL_ACCESS                   (STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0xFFFF)

// Process creation flags.
#define CREATE_SUSPENDED                    0x00000004
#define CREATE_NEW_CONSOLE                  0x00000010
#define NORMAL_PRIORITY_CLASS               0x00000020
#define HIGH_PRIORITY_CLASS                 0x00000080
#define CREATE_UNICODE_ENVIRONMENT          0x00000400
// clang-format on

typedef struct _STARTUPINFOW {
    DWORD cb;
    LPWSTR lpReserved;
    LPWSTR lpDesktop;
    LPWSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
} STARTUPINFOW, *LPSTARTUPINFOW;

typedef struct _PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
} PROCESS_INFORMATION, *PPROCESS_INFORMATION, *LPPROCESS_INFORMATION;

extern "C" {

HANDLE WINAPI OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId);
BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle);
BOOL WINAPI ProcessIdToSessionId(DWORD dwProcessId, DWORD* pSessionId);
BOOL WINAPI GetProcessTimes(HANDLE hProcess,
                            LPFILETIME lpCreationTime,
                            LPFILETIME lpExitTime,
                            LPFILETIME lpKernelTime,
                            LPFILETIME lpUserTime);
// Windows 8 and later; GetProcAddress finds it only where the machine's version has it.
BOOL WINAPI SetProcessMitigationPolicy(PROCESS_MITIGATION_POLICY MitigationPolicy,
                                       PVOID lpBuffer,
                                       SIZE_T dwLength);

// Starts a process of the emulated machine under hToken's user (recorded, see
// Win32Emu::Machine::launches). An application name is required: searching the command line
// for the program is not emulated.
BOOL WINAPI CreateProcessAsUserW(HANDLE hToken,
                                 LPCWSTR lpApplicationName,
                                 LPWSTR lpCommandLine,
                                 LPSECURITY_ATTRIBUTES lpProcessAttributes,
                                 LPSECURITY_ATTRIBUTES lpThreadAttributes,
                                 BOOL bInheritHandles,
                                 DWORD dwCreationFlags,
                                 LPVOID lpEnvironment,
                                 LPCWSTR lpCurrentDirectory,
                                 LPSTARTUPINFOW lpStartupInfo,
                                 LPPROCESS_INFORMATION lpProcessInformation);

}  // extern "C"
