#pragma once

// Emulated Windows SDK: the advapi32 registry subset. The emulated registry has the hives
// HKEY_LOCAL_MACHINE and HKEY_USERS; the other predefined keys fail with
// ERROR_CALL_NOT_IMPLEMENTED. Like Windows, these calls return their error code (LSTATUS) and do
// not set the last error.

#include <winbase.h>
#include <winnt.h>

typedef LONG LSTATUS;

// clang-format off
#define HKEY_CLASSES_ROOT       ((HKEY)(ULONG_PTR)((LONG)0x80000000))
#define HKEY_CURRENT_USER       ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define HKEY_LOCAL_MACHINE      ((HKEY)(ULONG_PTR)((LONG)0x80000002))
#define HKEY_USERS              ((HKEY)(ULONG_PTR)((LONG)0x80000003))
#define HKEY_PERFORMANCE_DATA   ((HKEY)(ULONG_PTR)((LONG)0x80000004))
#define HKEY_CURRENT_CONFIG     ((HKEY)(ULONG_PTR)((LONG)0x80000005))

#define KEY_QUERY_VALUE         (0x0001)
#define KEY_SET_VALUE           (0x0002)
#define KEY_CREATE_SUB_KEY      (0x0004)
#define KEY_ENUMERATE_SUB_KEYS  (0x0008)
#define KEY_NOTIFY              (0x0010)
#define KEY_CREATE_LINK         (0x0020)
#define KEY_WOW64_32KEY         (0x0200)
#define KEY_WOW64_64KEY         (0x0100)
#define KEY_WOW64_RES           (0x0300)
#define KEY_READ                ((STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY) & (~SYNCHRONIZE))
#define KEY_WRITE               ((STANDARD_RIGHTS_WRITE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY) & (~SYNCHRONIZE))
#define KEY_EXECUTE             ((KEY_READ) & (~SYNCHRONIZE))
#define KEY_ALL_ACCESS          ((STANDARD_RIGHTS_ALL | KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY | KEY_CREATE_LINK) & (~SYNCHRONIZE))

#define REG_NONE                        0
#define REG_SZ                          1
#define REG_EXPAND_SZ                   2
#define REG_BINARY                      3
#define REG_DWORD                       4
#define REG_DWORD_BIG_ENDIAN            5
#define REG_LINK                        6
#define REG_MULTI_SZ                    7

#define REG_OPTION_BACKUP_RESTORE       0x00000004
#define REG_OPTION_OPEN_LINK            0x00000008

// clang-format on

extern "C" {

LSTATUS WINAPI
RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
LSTATUS WINAPI RegCloseKey(HKEY hKey);
LSTATUS WINAPI RegQueryValueExW(HKEY hKey,
                                LPCWSTR lpValueName,
                                LPDWORD lpReserved,
                                LPDWORD lpType,
                                LPBYTE lpData,
                                LPDWORD lpcbData);
// Writes the key's security through its handle (WRITE_DAC for the list): the key's list alone,
// its subkeys keep what they hold.
LSTATUS WINAPI RegSetKeySecurity(HKEY hKey,
                                 SECURITY_INFORMATION SecurityInformation,
                                 PSECURITY_DESCRIPTOR pSecurityDescriptor);
LSTATUS WINAPI RegEnumKeyExW(HKEY hKey,
                             DWORD dwIndex,
                             LPWSTR lpName,
                             LPDWORD lpcchName,
                             LPDWORD lpReserved,
                             LPWSTR lpClass,
                             LPDWORD lpcchClass,
                             PFILETIME lpftLastWriteTime);
LSTATUS WINAPI RegEnumValueW(HKEY hKey,
                             DWORD dwIndex,
                             LPWSTR lpValueName,
                             LPDWORD lpcchValueName,
                             LPDWORD lpReserved,
                             LPDWORD lpType,
                             LPBYTE lpData,
                             LPDWORD lpcbData);
LSTATUS WINAPI RegQueryInfoKeyW(HKEY hKey,
                                LPWSTR lpClass,
                                LPDWORD lpcchClass,
                                LPDWORD lpReserved,
                                LPDWORD lpcSubKeys,
                                LPDWORD lpcbMaxSubKeyLen,
                                LPDWORD lpcbMaxClassLen,
                                LPDWORD lpcValues,
                                LPDWORD lpcbMaxValueNameLen,
                                LPDWORD lpcbMaxValueLen,
                                LPDWORD lpcbSecurityDescriptor,
                                PFILETIME lpftLastWriteTime);

}  // extern "C"
