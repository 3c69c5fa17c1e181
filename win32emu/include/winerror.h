#pragma once

// Emulated Windows SDK: system error codes and HRESULTs, with the SDK's values (they are
// logged, so they must match what Windows reports). Error codes are plain int constants here:
// the SDK's L suffix would make them 64-bit on Linux and upset %d.

#include <winnt.h>

// clang-format off
#define ERROR_SUCCESS                           0
#define NO_ERROR                                0
#define ERROR_INVALID_FUNCTION                  1
#define ERROR_FILE_NOT_FOUND                    2
#define ERROR_PATH_NOT_FOUND                    3
#define ERROR_ACCESS_DENIED                     5
#define ERROR_INVALID_HANDLE                    6
#define ERROR_NOT_ENOUGH_MEMORY                 8
#define ERROR_INVALID_DATA                      13
#define ERROR_NO_MORE_FILES                     18
#define ERROR_BAD_LENGTH                        24
#define ERROR_SHARING_VIOLATION                 32
#define ERROR_NOT_SUPPORTED                     50
#define ERROR_FILE_EXISTS                       80
#define ERROR_INVALID_PARAMETER                 87
#define ERROR_BROKEN_PIPE                       109
#define ERROR_CALL_NOT_IMPLEMENTED              120
#define ERROR_INSUFFICIENT_BUFFER               122
#define ERROR_INVALID_NAME                      123
#define ERROR_INVALID_LEVEL                     124
#define ERROR_MOD_NOT_FOUND                     126
#define ERROR_PROC_NOT_FOUND                    127
#define ERROR_BAD_ARGUMENTS                     160
#define ERROR_BAD_PATHNAME                      161
#define ERROR_ALREADY_EXISTS                    183
#define ERROR_FILENAME_EXCED_RANGE              206
#define ERROR_MORE_DATA                         234
#define ERROR_NO_MORE_ITEMS                     259
#define ERROR_DIRECTORY                         267
#define ERROR_MR_MID_NOT_FOUND                  317
#define ERROR_CANT_ACCESS_FILE                  1920
#define ERROR_NOT_OWNER                         288
#define ERROR_UNTRUSTED_MOUNT_POINT             448
#define ERROR_INVALID_ADDRESS                   487
#define ERROR_NOACCESS                          998
#define ERROR_NO_TOKEN                          1008
#define ERROR_KEY_DELETED                       1018
#define ERROR_SERVICE_REQUEST_TIMEOUT           1053
#define ERROR_SERVICE_ALREADY_RUNNING           1056
#define ERROR_SERVICE_DOES_NOT_EXIST            1060
#define ERROR_SERVICE_CANNOT_ACCEPT_CTRL        1061
#define ERROR_SERVICE_NOT_ACTIVE                1062
#define ERROR_FAILED_SERVICE_CONTROLLER_CONNECT 1063
#define ERROR_SERVICE_SPECIFIC_ERROR            1066
#define ERROR_PROCESS_ABORTED                   1067
#define ERROR_SERVICE_NEVER_STARTED             1077
#define RPC_S_SERVER_UNAVAILABLE                1722
#define ERROR_INVALID_SERVICE_CONTROL           1052
#define ERROR_SHUTDOWN_IN_PROGRESS              1115
#define ERROR_OLD_WIN_VERSION                   1150
#define ERROR_UNKNOWN_REVISION                  1305
#define ERROR_NO_SUCH_LOGON_SESSION             1312
#define ERROR_PRIVILEGE_NOT_HELD                1314
#define ERROR_NONE_MAPPED                       1332
#define ERROR_INVALID_ACL                       1336
#define ERROR_INVALID_SID                       1337
#define ERROR_INVALID_SECURITY_DESCR            1338
#define ERROR_BAD_INHERITANCE_ACL               1340
#define ERROR_BAD_IMPERSONATION_LEVEL           1346
#define ERROR_BAD_TOKEN_TYPE                    1349

// HRESULTs.
#define S_OK                ((HRESULT)0)
#define E_FAIL              ((HRESULT)0x80004005)
#define E_INVALIDARG        ((HRESULT)0x80070057)

#define FACILITY_WIN32      7
#define FAILED(hr)          (((HRESULT)(hr)) < 0)
// clang-format on

inline HRESULT HRESULT_FROM_WIN32(unsigned long x) {
    return (HRESULT)(x) <= 0 ? (HRESULT)(x)
                             : (HRESULT)(((x)&0x0000FFFF) | (FACILITY_WIN32 << 16) | 0x80000000);
}
