#pragma once

// Emulated Windows SDK: tlhelp32.h, the process snapshot. Only the narrow process entries: the
// system names no -W form.

#include <windows.h>

// clang-format off
#define TH32CS_SNAPHEAPLIST 0x00000001
#define TH32CS_SNAPPROCESS  0x00000002
#define TH32CS_SNAPTHREAD   0x00000004
#define TH32CS_SNAPMODULE   0x00000008
#define TH32CS_SNAPMODULE32 0x00000010
// clang-format on

typedef struct tagPROCESSENTRY32 {
    DWORD dwSize;
    DWORD cntUsage;
    DWORD th32ProcessID;
    ULONG_PTR th32DefaultHeapID;
    DWORD th32ModuleID;
    DWORD cntThreads;
    DWORD th32ParentProcessID;
    LONG pcPriClassBase;
    DWORD dwFlags;
    CHAR szExeFile[MAX_PATH];
} PROCESSENTRY32, *PPROCESSENTRY32, *LPPROCESSENTRY32;

// Process32First/Next compare dwSize with this: 296 for a 32-bit process (the service), 304 for
// a 64-bit one, as the SDK lays it out.
static_assert(sizeof(PROCESSENTRY32) == (sizeof(void*) == 4 ? 296 : 304),
              "PROCESSENTRY32 has the SDK's layout");

extern "C" {

HANDLE WINAPI CreateToolhelp32Snapshot(DWORD dwFlags, DWORD th32ProcessID);
BOOL WINAPI Process32First(HANDLE hSnapshot, LPPROCESSENTRY32 lppe);
BOOL WINAPI Process32Next(HANDLE hSnapshot, LPPROCESSENTRY32 lppe);

}  // extern "C"
