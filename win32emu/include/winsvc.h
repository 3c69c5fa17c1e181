#pragma once

// Emulated Windows SDK: the service control manager's calls (advapi32). The service side: the
// status structure and constants, the dispatch table, and the three calls a service process
// makes, over an in-process SCM that a test plays (Win32Emu/ServiceControlManager.h) or orvane-sc
// for a process that it started. The controlling side: opening the SCM and a service, starting
// it and querying its status, answered by `orvane-sc serve` for the host root of the machine.

#include <winnt.h>

// clang-format off

// Service types (winnt.h in the SDK).
#define SERVICE_WIN32_OWN_PROCESS       0x00000010

// Service states.
#define SERVICE_STOPPED                 0x00000001
#define SERVICE_START_PENDING           0x00000002
#define SERVICE_STOP_PENDING            0x00000003
#define SERVICE_RUNNING                 0x00000004
#define SERVICE_CONTINUE_PENDING        0x00000005
#define SERVICE_PAUSE_PENDING           0x00000006
#define SERVICE_PAUSED                  0x00000007

// Controls accepted.
#define SERVICE_ACCEPT_STOP                     0x00000001
#define SERVICE_ACCEPT_PAUSE_CONTINUE           0x00000002
#define SERVICE_ACCEPT_SHUTDOWN                 0x00000004
#define SERVICE_ACCEPT_PARAMCHANGE              0x00000008
#define SERVICE_ACCEPT_NETBINDCHANGE            0x00000010
#define SERVICE_ACCEPT_HARDWAREPROFILECHANGE    0x00000020
#define SERVICE_ACCEPT_POWEREVENT               0x00000040
#define SERVICE_ACCEPT_SESSIONCHANGE            0x00000080
#define SERVICE_ACCEPT_PRESHUTDOWN              0x00000100
#define SERVICE_ACCEPT_TIMECHANGE               0x00000200
#define SERVICE_ACCEPT_TRIGGEREVENT             0x00000400

// Control codes. 128 to 255 are the service's own.
#define SERVICE_CONTROL_STOP                    0x00000001
#define SERVICE_CONTROL_PAUSE                   0x00000002
#define SERVICE_CONTROL_CONTINUE                0x00000003
#define SERVICE_CONTROL_INTERROGATE             0x00000004
#define SERVICE_CONTROL_SHUTDOWN                0x00000005
#define SERVICE_CONTROL_PARAMCHANGE             0x00000006
#define SERVICE_CONTROL_PRESHUTDOWN             0x0000000F

// Access rights to the SCM and to a service.
#define SC_MANAGER_CONNECT              0x0001
#define SERVICE_QUERY_CONFIG            0x0001
#define SERVICE_CHANGE_CONFIG           0x0002
#define SERVICE_QUERY_STATUS            0x0004
#define SERVICE_ENUMERATE_DEPENDENTS    0x0008
#define SERVICE_START                   0x0010
#define SERVICE_STOP                    0x0020
#define SERVICE_PAUSE_CONTINUE          0x0040
#define SERVICE_INTERROGATE             0x0080
#define SERVICE_USER_DEFINED_CONTROL    0x0100
#define SERVICE_ALL_ACCESS              0xF01FF

#define SERVICES_ACTIVE_DATABASEW       L"ServicesActive"

// clang-format on

typedef struct _SERVICE_STATUS {
    DWORD dwServiceType;
    DWORD dwCurrentState;
    DWORD dwControlsAccepted;
    DWORD dwWin32ExitCode;
    DWORD dwServiceSpecificExitCode;
    DWORD dwCheckPoint;
    DWORD dwWaitHint;
} SERVICE_STATUS, *LPSERVICE_STATUS;

DECLARE_HANDLE(SERVICE_STATUS_HANDLE);
DECLARE_HANDLE(SC_HANDLE);
typedef SC_HANDLE* LPSC_HANDLE;

typedef enum _SC_STATUS_TYPE { SC_STATUS_PROCESS_INFO = 0 } SC_STATUS_TYPE;

typedef struct _SERVICE_STATUS_PROCESS {
    DWORD dwServiceType;
    DWORD dwCurrentState;
    DWORD dwControlsAccepted;
    DWORD dwWin32ExitCode;
    DWORD dwServiceSpecificExitCode;
    DWORD dwCheckPoint;
    DWORD dwWaitHint;
    DWORD dwProcessId;
    DWORD dwServiceFlags;
} SERVICE_STATUS_PROCESS, *LPSERVICE_STATUS_PROCESS;

typedef VOID(WINAPI* LPSERVICE_MAIN_FUNCTIONA)(DWORD dwNumServicesArgs, LPSTR* lpServiceArgVectors);
typedef VOID(WINAPI* LPHANDLER_FUNCTION)(DWORD dwControl);

typedef struct _SERVICE_TABLE_ENTRYA {
    LPSTR lpServiceName;
    LPSERVICE_MAIN_FUNCTIONA lpServiceProc;
} SERVICE_TABLE_ENTRYA, *LPSERVICE_TABLE_ENTRYA;

extern "C" {

// Connects the calling thread to the SCM and makes it the control dispatcher of the services
// in the table (terminated by an all-null entry). Blocks: starts each service's ServiceMain on
// a thread of its own, with argc 1 and argv[0] the service name, and calls the registered
// handler on the calling thread for every control code. Returns TRUE once the service has
// reported SERVICE_STOPPED and its ServiceMain has returned. FALSE with
// ERROR_FAILED_SERVICE_CONTROLLER_CONNECT at once when the process was not started as a
// service; ERROR_SERVICE_ALREADY_RUNNING while a dispatcher runs; ERROR_INVALID_PARAMETER for
// an empty table.
BOOL WINAPI StartServiceCtrlDispatcherA(CONST SERVICE_TABLE_ENTRYA* lpServiceStartTable);

// Registers the control handler of a service of the running dispatcher and returns the handle
// for its status reports. NULL with ERROR_SERVICE_DOES_NOT_EXIST when no running dispatcher has
// that service (compared without case); ERROR_INVALID_NAME for a NULL name;
// ERROR_INVALID_PARAMETER for a NULL handler. The handle is not closed.
SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerA(LPCSTR lpServiceName,
                                                         LPHANDLER_FUNCTION lpHandlerProc);

// Reports the service's status to the SCM. FALSE with ERROR_INVALID_HANDLE for a handle that
// is not the running dispatcher's, ERROR_INVALID_DATA for a NULL status or an unknown state.
BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus,
                             LPSERVICE_STATUS lpServiceStatus);

// Connects to the SCM of this machine. Only SC_MANAGER_CONNECT is modelled (other rights:
// ERROR_CALL_NOT_IMPLEMENTED), on the local machine (a machine name other than empty:
// ERROR_CALL_NOT_IMPLEMENTED) and its active database (another name: ERROR_INVALID_NAME). NULL
// with RPC_S_SERVER_UNAVAILABLE when no `orvane-sc serve` runs for the host root.
SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR lpMachineName,
                                LPCWSTR lpDatabaseName,
                                DWORD dwDesiredAccess);

// Opens an installed service (name compared without case) with the rights the service's
// security descriptor grants the caller's token: ERROR_ACCESS_DENIED when it does not grant all
// of dwDesiredAccess, ERROR_SERVICE_DOES_NOT_EXIST for an unknown name, ERROR_INVALID_ADDRESS
// for a NULL name, ERROR_INVALID_HANDLE for a handle that is not the SCM's.
SC_HANDLE WINAPI OpenServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, DWORD dwDesiredAccess);

// Starts a stopped service and returns once its process has connected its control dispatcher.
// ERROR_ACCESS_DENIED without SERVICE_START on the handle, ERROR_SERVICE_ALREADY_RUNNING while
// its process runs, ERROR_SERVICE_REQUEST_TIMEOUT when the process does not connect in 30 s,
// ERROR_PROCESS_ABORTED when it ends before that. Start arguments: ERROR_CALL_NOT_IMPLEMENTED.
BOOL WINAPI StartServiceW(SC_HANDLE hService, DWORD dwNumServiceArgs, LPCWSTR* lpServiceArgVectors);

// The service's status with its process id (0 while it is stopped). ERROR_INVALID_LEVEL for a
// level other than SC_STATUS_PROCESS_INFO, ERROR_INSUFFICIENT_BUFFER (with the size needed) for
// a buffer smaller than SERVICE_STATUS_PROCESS, ERROR_ACCESS_DENIED without SERVICE_QUERY_STATUS.
BOOL WINAPI QueryServiceStatusEx(SC_HANDLE hService,
                                 SC_STATUS_TYPE InfoLevel,
                                 LPBYTE lpBuffer,
                                 DWORD cbBufSize,
                                 LPDWORD pcbBytesNeeded);

// Closes a handle from OpenSCManagerW or OpenServiceW; ERROR_INVALID_HANDLE for any other.
BOOL WINAPI CloseServiceHandle(SC_HANDLE hSCObject);

}  // extern "C"
