#pragma once

// Emulated Windows SDK: the kernel32 subset (errors, handles, synchronisation, system and version
// information, modules, local memory, directories, environment strings). win32emu implements it
// over the emulated machine; win32emu/SUPPORTED.md lists how faithfully.

#include <winerror.h>
#include <winnt.h>

// clang-format off
#define MAX_PATH            260
#define INFINITE            0xFFFFFFFF

#define WAIT_OBJECT_0       0x00000000
#define WAIT_ABANDONED      0x00000080
#define WAIT_TIMEOUT        258
#define WAIT_FAILED         0xFFFFFFFF

#define LMEM_FIXED          0x0000
#define LMEM_MOVEABLE       0x0002
#define LMEM_ZEROINIT       0x0040
#define LPTR                (LMEM_FIXED | LMEM_ZEROINIT)

#define FILE_SHARE_READ             0x00000001
#define FILE_SHARE_WRITE            0x00000002
#define FILE_SHARE_DELETE           0x00000004

#define CREATE_NEW                  1
#define CREATE_ALWAYS               2
#define OPEN_EXISTING               3
#define OPEN_ALWAYS                 4
#define TRUNCATE_EXISTING           5

#define FILE_ATTRIBUTE_NORMAL       0x00000080
#define FILE_FLAG_BACKUP_SEMANTICS  0x02000000
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000
#define SECURITY_IDENTIFICATION     0x00010000
#define SECURITY_SQOS_PRESENT       0x00100000

#define FILE_NAME_NORMALIZED        0x00000000
#define VOLUME_NAME_DOS             0x00000000
#define FIND_FIRST_EX_LARGE_FETCH   0x00000002
// clang-format on

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *PSECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME, *PFILETIME, *LPFILETIME;

typedef union _LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

typedef enum _FILE_INFO_BY_HANDLE_CLASS {
    FileBasicInfo = 0,
    FileStandardInfo = 1,
    FileAttributeTagInfo = 9,
    FileFullDirectoryInfo = 14,
    FileFullDirectoryRestartInfo = 15
} FILE_INFO_BY_HANDLE_CLASS;

typedef struct _FILE_FULL_DIR_INFO {
    DWORD NextEntryOffset;
    DWORD FileIndex;
    LARGE_INTEGER CreationTime;
    LARGE_INTEGER LastAccessTime;
    LARGE_INTEGER LastWriteTime;
    LARGE_INTEGER ChangeTime;
    LARGE_INTEGER EndOfFile;
    LARGE_INTEGER AllocationSize;
    DWORD FileAttributes;
    DWORD FileNameLength;  // bytes
    DWORD EaSize;          // the reparse tag, for a reparse point
    WCHAR FileName[1];
} FILE_FULL_DIR_INFO, *PFILE_FULL_DIR_INFO;

typedef enum _FILE_ID_TYPE {
    FileIdType = 0,
    ObjectIdType = 1,
    ExtendedFileIdType = 2,
    MaximumFileIdType
} FILE_ID_TYPE;

typedef struct FILE_ID_DESCRIPTOR {
    DWORD dwSize;
    FILE_ID_TYPE Type;
    union {
        LARGE_INTEGER FileId;
        BYTE ObjectId[16];
    };
} FILE_ID_DESCRIPTOR, *LPFILE_ID_DESCRIPTOR;

typedef struct _FILE_STANDARD_INFO {
    LARGE_INTEGER AllocationSize;
    LARGE_INTEGER EndOfFile;
    DWORD NumberOfLinks;
    BOOLEAN DeletePending;
    BOOLEAN Directory;
} FILE_STANDARD_INFO, *PFILE_STANDARD_INFO;

typedef struct _FILE_ATTRIBUTE_TAG_INFO {
    DWORD FileAttributes;
    DWORD ReparseTag;
} FILE_ATTRIBUTE_TAG_INFO, *PFILE_ATTRIBUTE_TAG_INFO;

typedef enum _FINDEX_INFO_LEVELS {
    FindExInfoStandard,
    FindExInfoBasic,
    FindExInfoMaxInfoLevel
} FINDEX_INFO_LEVELS;

typedef enum _FINDEX_SEARCH_OPS {
    FindExSearchNameMatch,
    FindExSearchLimitToDirectories,
    FindExSearchLimitToDevices,
    FindExSearchMaxSearchOp
} FINDEX_SEARCH_OPS;

typedef struct _WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;  // the reparse tag of a reparse point
    DWORD dwReserved1;
    WCHAR cFileName[MAX_PATH];
    WCHAR cAlternateFileName[14];
} WIN32_FIND_DATAW, *PWIN32_FIND_DATAW, *LPWIN32_FIND_DATAW;

typedef struct _OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
} OSVERSIONINFOA, *POSVERSIONINFOA, *LPOSVERSIONINFOA;

typedef struct _OSVERSIONINFOEXA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
    WORD wServicePackMajor;
    WORD wServicePackMinor;
    WORD wSuiteMask;
    BYTE wProductType;
    BYTE wReserved;
} OSVERSIONINFOEXA, *POSVERSIONINFOEXA, *LPOSVERSIONINFOEXA;

// GetVersionExA and VerifyVersionInfoA check the size field against these, as Windows does.
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA has the SDK's size");
static_assert(sizeof(OSVERSIONINFOEXA) == 156, "OSVERSIONINFOEXA has the SDK's size");

typedef struct _SYSTEM_INFO {
    union {
        DWORD dwOemId;
        struct {
            WORD wProcessorArchitecture;
            WORD wReserved;
        };
    };
    DWORD dwPageSize;
    LPVOID lpMinimumApplicationAddress;
    LPVOID lpMaximumApplicationAddress;
    DWORD_PTR dwActiveProcessorMask;
    DWORD dwNumberOfProcessors;
    DWORD dwProcessorType;
    DWORD dwAllocationGranularity;
    WORD wProcessorLevel;
    WORD wProcessorRevision;
} SYSTEM_INFO, *LPSYSTEM_INFO;

// What GetProcAddress returns. The SDK's form is INT_PTR (*)(); void (*)(void) is used here
// because GCC's -Wcast-function-type accepts casts from it to the real signature.
typedef void(WINAPI* FARPROC)(void);

extern "C" {

// Errors. The last error is per thread.
DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD dwErrCode);

// Handles. CloseHandle of an unknown handle fails with ERROR_INVALID_HANDLE; of the pseudo
// handle GetCurrentProcess() (equal to INVALID_HANDLE_VALUE) it succeeds and does nothing.
BOOL WINAPI CloseHandle(HANDLE hObject);
HANDLE WINAPI GetCurrentProcess(void);

// Synchronisation.
HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes,
                           BOOL bManualReset,
                           BOOL bInitialState,
                           LPCWSTR lpName);
BOOL WINAPI SetEvent(HANDLE hEvent);
HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes,
                           BOOL bInitialOwner,
                           LPCSTR lpName);
BOOL WINAPI ReleaseMutex(HANDLE hMutex);
DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
void WINAPI Sleep(DWORD dwMilliseconds);

// Version and system information.
BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation);
BOOL WINAPI VerifyVersionInfoA(LPOSVERSIONINFOEXA lpVersionInformation,
                               DWORD dwTypeMask,
                               DWORDLONG dwlConditionMask);
ULONGLONG WINAPI VerSetConditionMask(ULONGLONG ConditionMask, DWORD TypeMask, BYTE Condition);
void WINAPI GetSystemInfo(LPSYSTEM_INFO lpSystemInfo);
void WINAPI GetNativeSystemInfo(LPSYSTEM_INFO lpSystemInfo);
BOOL WINAPI GetProductInfo(DWORD dwOSMajorVersion,
                           DWORD dwOSMinorVersion,
                           DWORD dwSpMajorVersion,
                           DWORD dwSpMinorVersion,
                           PDWORD pdwReturnedProductType);
BOOL WINAPI IsWow64Process(HANDLE hProcess, PBOOL Wow64Process);
// The host's clock as Windows counts it: 100 ns units since 1601-01-01 UTC.
void WINAPI GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime);

// Files.
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName);

// Modules.
HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName);
FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);

// Local memory. Only LMEM_FIXED blocks (optionally LMEM_ZEROINIT) are emulated.
HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes);
HLOCAL WINAPI LocalFree(HLOCAL hMem);

// Terminal-services sessions (kernel32): the session attached to the physical console, or
// 0xFFFFFFFF when none is.
DWORD WINAPI WTSGetActiveConsoleSessionId(void);

// Accounts. Only the local system (lpSystemName null or empty) is emulated.
BOOL WINAPI LookupAccountSidA(LPCSTR lpSystemName,
                              PSID Sid,
                              LPSTR Name,
                              LPDWORD cchName,
                              LPSTR ReferencedDomainName,
                              LPDWORD cchReferencedDomainName,
                              PSID_NAME_USE peUse);
BOOL WINAPI LookupAccountSidW(LPCWSTR lpSystemName,
                              PSID Sid,
                              LPWSTR Name,
                              LPDWORD cchName,
                              LPWSTR ReferencedDomainName,
                              LPDWORD cchReferencedDomainName,
                              PSID_NAME_USE peUse);

// Files: opening an existing file for reading (INVALID_HANDLE_VALUE on failure).
DWORD WINAPI GetFinalPathNameByHandleW(HANDLE hFile,
                                       LPWSTR lpszFilePath,
                                       DWORD cchFilePath,
                                       DWORD dwFlags);
BOOL WINAPI GetFileInformationByHandleEx(HANDLE hFile,
                                         FILE_INFO_BY_HANDLE_CLASS FileInformationClass,
                                         LPVOID lpFileInformation,
                                         DWORD dwBufferSize);
HANDLE WINAPI FindFirstFileExW(LPCWSTR lpFileName,
                               FINDEX_INFO_LEVELS fInfoLevelId,
                               LPVOID lpFindFileData,
                               FINDEX_SEARCH_OPS fSearchOp,
                               LPVOID lpSearchFilter,
                               DWORD dwAdditionalFlags);
BOOL WINAPI FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData);
BOOL WINAPI FindClose(HANDLE hFindFile);
// A file or folder by its id on the volume of `hVolumeHint`.
HANDLE WINAPI OpenFileById(HANDLE hVolumeHint,
                           LPFILE_ID_DESCRIPTOR lpFileId,
                           DWORD dwDesiredAccess,
                           DWORD dwShareMode,
                           LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                           DWORD dwFlagsAndAttributes);
HANDLE WINAPI CreateFileW(LPCWSTR lpFileName,
                          DWORD dwDesiredAccess,
                          DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                          DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes,
                          HANDLE hTemplateFile);

// Directories and environment strings.
BOOL WINAPI CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);
DWORD WINAPI GetCurrentDirectoryW(DWORD nBufferLength, LPWSTR lpBuffer);
DWORD WINAPI ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize);

}  // extern "C"
