#pragma once

// Emulated Windows SDK: iphlpapi.h, the TCP connection table with owning process ids. The
// connections are the host's real IPv4 loopback connections; their owners are processes of the
// emulated machine (win32emu/SUPPORTED.md).

#include <windows.h>
#include <winsock2.h>

// clang-format off
#define ANY_SIZE 1

typedef enum {
    MIB_TCP_STATE_CLOSED     = 1,
    MIB_TCP_STATE_LISTEN     = 2,
    MIB_TCP_STATE_SYN_SENT   = 3,
    MIB_TCP_STATE_SYN_RCVD   = 4,
    MIB_TCP_STATE_ESTAB      = 5,
    MIB_TCP_STATE_FIN_WAIT1  = 6,
    MIB_TCP_STATE_FIN_WAIT2  = 7,
    MIB_TCP_STATE_CLOSE_WAIT = 8,
    MIB_TCP_STATE_CLOSING    = 9,
    MIB_TCP_STATE_LAST_ACK   = 10,
    MIB_TCP_STATE_TIME_WAIT  = 11,
    MIB_TCP_STATE_DELETE_TCB = 12
} MIB_TCP_STATE;

typedef enum _TCP_TABLE_CLASS {
    TCP_TABLE_BASIC_LISTENER,
    TCP_TABLE_BASIC_CONNECTIONS,
    TCP_TABLE_BASIC_ALL,
    TCP_TABLE_OWNER_PID_LISTENER,
    TCP_TABLE_OWNER_PID_CONNECTIONS,
    TCP_TABLE_OWNER_PID_ALL,
    TCP_TABLE_OWNER_MODULE_LISTENER,
    TCP_TABLE_OWNER_MODULE_CONNECTIONS,
    TCP_TABLE_OWNER_MODULE_ALL
} TCP_TABLE_CLASS, *PTCP_TABLE_CLASS;
// clang-format on

// Addresses and ports in network byte order; a port in the low 16 bits of its DWORD.
typedef struct _MIB_TCPROW_OWNER_PID {
    DWORD dwState;
    DWORD dwLocalAddr;
    DWORD dwLocalPort;
    DWORD dwRemoteAddr;
    DWORD dwRemotePort;
    DWORD dwOwningPid;
} MIB_TCPROW_OWNER_PID, *PMIB_TCPROW_OWNER_PID;

typedef struct _MIB_TCPTABLE_OWNER_PID {
    DWORD dwNumEntries;
    MIB_TCPROW_OWNER_PID table[ANY_SIZE];
} MIB_TCPTABLE_OWNER_PID, *PMIB_TCPTABLE_OWNER_PID;

extern "C" {

DWORD WINAPI GetExtendedTcpTable(PVOID pTcpTable,
                                 PDWORD pdwSize,
                                 BOOL bOrder,
                                 ULONG ulAf,
                                 TCP_TABLE_CLASS TableClass,
                                 ULONG Reserved);

}  // extern "C"
